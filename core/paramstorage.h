#pragma once

#include "systemparam.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>

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

// Opens "PARAM.db" as connection "dbIn". A missing (or empty) file is reported
// to the operator and replaced by the factory copy first; when that copy
// fails, the operator is told and the connection stays closed, so that no
// empty PARAM.db hides the missing file from the next start. A file without a
// readable sysparam table (none, or other columns) is reported and left as it
// is (it also holds the areas, and restoring a parameter group is the
// operator's decision). A file that another program holds locked is neither:
// the loader waits for it.
QSqlDatabase openParamDatabase();

// Opens "SN.db" as connection "dbT". A file that is missing, is no database or
// has no sysparam table of its two columns is reported to the operator and
// replaced by the factory copy (the damaged file is kept as "SN.db.bad"). When
// even the factory copy is missing, an empty sysparam table is created so that
// the camera order can be saved again. A file that another program holds
// locked is left alone; the loader waits for it.
QSqlDatabase openSerialDatabase();

// How long the loader waits for PARAM.db and for SN.db while another program
// holds the file, before it goes on without it. Every later statement on the
// two connections waits kParamStatementBusyMs at most, so that a settings save
// on the GUI thread never holds the machine's heartbeat up.
constexpr int kParamBusyBoundMs = 5000;
constexpr int kParamStatementBusyMs = 250;
// Tests shorten the bound; returns the previous one.
int setParamBusyBoundMs(int ms);

// Appends an entry to the operation log; set by the main window when it is
// built. The storage says here what it also tells the operator.
extern std::function<void(const QString& text)> paramStorageOperationLog;

// Fills the record from sysadd.txt, PARAM.db and SN.db, applies the load
// limits and works out the run-time slots of the machine type. Also sets
// gLanguage, gDetectCount, gInputNames/gOutputNames entries 0..4 (unless
// name.txt exists) and cameraSerials. curSide, when given, receives the side
// selector of two-colour and rotary machines; it is left alone on a standard
// machine and when both sides run. Missing rows and failing statements leave
// the values the record already held.
// A database that another program still holds after kParamBusyBoundMs is not
// read at all (no row is inserted into it either): the record keeps what it
// held, the operator is told once and the operation log says so. Until
// PARAM.db has been read whole through a connection, saveSysParam refuses to
// write through it.
void loadSysParam(SystemParam* record, int* curSide = nullptr);
void loadSysParam(SystemParam* record, QSqlDatabase paramDb, QSqlDatabase serialDb, int* curSide);

// Whether another program held PARAM.db (SN.db) through the whole wait of the
// last load, so that its values were not read. The operator is told the
// first time only; a later load that reads the file clears it. The main
// window loads again until neither is held: it never runs on defaults.
bool sysParamHeld();
bool cameraSerialsHeld();

// Whether the last load read every key of PARAM.db through this connection
// (opening it again forgets that).
bool sysParamLoaded();
bool sysParamLoaded(const QSqlDatabase& paramDb);
// The same for SN.db: until its rows were read, cameraSerials holds no saved
// order, and writing the order back would replace the stored one.
bool cameraSerialsLoaded();
bool cameraSerialsLoaded(const QSqlDatabase& serialDb);

// Writes every stored slot of the record and gLanguage to PARAM.db in one
// transaction, inserting rows that are missing. Returns false, with nothing
// changed in the file, when any statement or the commit fails (read-only or
// locked database, damaged table) and when the parameters were never read
// from the file (a record of fallback defaults must not overwrite the stored
// values); the caller tells the operator.
bool saveSysParam(SystemParam* record);
bool saveSysParam(SystemParam* record, QSqlDatabase paramDb);
// The same with another UI language stored in place of gLanguage: a language
// chosen in the settings takes effect at the next start, not in the running
// screens.
bool saveSysParamWithLanguage(SystemParam* record, int language);

// Replaces sysadd.txt with slot 340 of the record and a line end, atomically.
bool saveParaGroupIndex(SystemParam* record);

// Writes the factory parameter group (PARAM.db and SN.db) into the folder,
// creating it when needed and replacing files of those names. On failure
// returns false and describes the cause in error.
bool writeFactoryParamGroup(const QString& folder, QString* error = nullptr);
