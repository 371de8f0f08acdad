#pragma once

#include "systemparam.h"

#include <QSqlDatabase>
#include <QString>

// Where the system parameter record lives in the working folder:
//   PARAM.db  table sysparam (name, value): 22 keys of space-separated integers
//   SN.db     table sysparam: serialNB0..serialNB7, the saved camera order
//   sysadd.txt  the index of the current parameter group
//   name.txt    when present, the default I/O channel names are not filled in
// The main window opens both databases once (openParamDatabase and
// openSerialDatabase) under the connection names below and keeps them open;
// the functions without a database argument work on those connections.

extern const char* const kParamConnectionName;  // "dbIn", PARAM.db
extern const char* const kSerialConnectionName; // "dbT", SN.db
extern const char* const kFactoryParamDb;       // "./paraGroup/default/PARAM.db"
extern const char* const kFactorySerialDb;      // "./paraGroup/default/SN.db"

// Opens "PARAM.db" as connection "dbIn". A missing file is reported to the
// operator and replaced by the factory copy first; a file without its
// sysparam table is reported and left as it is (it also holds the areas, and
// restoring a parameter group is the operator's decision).
QSqlDatabase openParamDatabase();

// Opens "SN.db" as connection "dbT". A file that is missing, is no database or
// has no sysparam table is reported to the operator and replaced by the
// factory copy (the damaged file is kept as "SN.db.bad"). When even the
// factory copy is missing, an empty sysparam table is created so that the
// camera order can be saved again.
QSqlDatabase openSerialDatabase();

// Fills the record from sysadd.txt, PARAM.db and SN.db, applies the load
// limits and works out the run-time slots of the machine type. Also sets
// gLanguage, gDetectCount, gInputNames/gOutputNames entries 0..4 (unless
// name.txt exists) and cameraSerials. curSide, when given, receives the side
// selector of two-colour and rotary machines; it is left alone on a standard
// machine and when both sides run. Missing rows and failing statements leave
// the values the record already held.
void loadSysParam(SystemParam* record, int* curSide = nullptr);
void loadSysParam(SystemParam* record, QSqlDatabase paramDb, QSqlDatabase serialDb, int* curSide);

// Writes every stored slot of the record and gLanguage to PARAM.db in one
// transaction, inserting rows that are missing. Returns false, with nothing
// changed in the file, when any statement or the commit fails (read-only or
// locked database, damaged table); the caller tells the operator.
bool saveSysParam(SystemParam* record);
bool saveSysParam(SystemParam* record, QSqlDatabase paramDb);

// Replaces sysadd.txt with slot 340 of the record and a line end, atomically.
bool saveParaGroupIndex(SystemParam* record);

// Writes the factory parameter group (PARAM.db and SN.db) into the folder,
// creating it when needed and replacing files of those names. On failure
// returns false and describes the cause in error.
bool writeFactoryParamGroup(const QString& folder, QString* error = nullptr);
