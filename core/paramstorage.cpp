#include "paramstorage.h"

#include "systemcounts.h"

#include "globals.h"
#include "operatorprompt.h"
#include "sqlitebusy.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <cstring>
#include <functional>

const char* const kParamConnectionName = "dbIn";
const char* const kSerialConnectionName = "dbT";
const char* const kFactoryParamDb = "./paraGroup/default/PARAM.db";
const char* const kFactorySerialDb = "./paraGroup/default/SN.db";

std::function<void(const QString& text)> paramStorageOperationLog;

namespace {

// Texts of the operator's messages.
constexpr int kParamBusyText = 626;
constexpr int kSerialBusyText = 627;
constexpr int kFactoryCopyFailedText = 628;

int gBusyBoundMs = kParamBusyBoundMs;

// Connections (by name) through which PARAM.db or SN.db was read whole: the
// only ones a save may write through. GUI thread only, as are the connections.
QSet<QString> gLoadedConnections;
// Connections whose file was held by another program when it was opened: its
// state is still unknown, and the loader reports a damaged file instead.
QSet<QString> gUncheckedConnections;
// Connections whose file another program held through the last load, and
// those whose hold the operator has been told about (once, until read).
QSet<QString> gHeldConnections;
QSet<QString> gToldHeld;

int statementBusyMs()
{
    return qMin(kParamStatementBusyMs, gBusyBoundMs);
}

// What the operator must know also goes into the operation log.
void tellOperator(const QString& text)
{
    if (paramStorageOperationLog) {
        paramStorageOperationLog(text);
    }
    warnOperator(text);
}

const char* const kParamDb = "PARAM.db";
const char* const kSerialDb = "SN.db";
const char* const kGroupIndexFile = "sysadd.txt";
const char* const kNameFile = "name.txt";

// Value positions that are not plain slots.
constexpr int kSpare = -1;       // read into and written from slot 201
constexpr int kLanguage = -2;    // gLanguage
constexpr int kMachineType = -3; // read into slot 189, written from slot 190
constexpr int kPassword = -4;    // the text row "password"

struct StoredKey {
    const char* name;
    int count;  // 0 for the password row
    int positions[20];
};

// In the order the loader reads them.
constexpr StoredKey kKeys[] = {
    {"trigInDelay", 8, {72, 73, 74, 75, 76, 77, 78, 79}},
    {"exposeTime", 4, {0, 1, 2, 3}},
    {"adjustPlus", 4, {8, 9, 10, 11}},
    {"numFailDetect", 8, {kMachineType, 191, 193, 194, kSpare, 195, 196, 199}},
    {"numAllDetect", 8, {32, 33, 34, 35, 36, 37, 38, 39}},
    {"isPswUsed", 1, {131}},
    {"password", 0, {kPassword}},
    {"system1", 9, {118, 133, 127, 129, 128, 192, 143, 137, kSpare}},
    {"system2", 18, {130, 135, 185, 136, 144, 145, 152, 154, 151, 161, 162, kSpare, kLanguage, 173, 174, 138, 139, 146}},
    {"system3", 11, {153, 164, 140, 165, 166, 167, 168, 169, 141, 171, 170}},
    {"system4", 3, {132, 149, 150}},
    {"sharp", 4, {16, 17, 18, 19}},
    {"contrast", 4, {24, 25, 26, 27}},
    {"system5", 13, {4, 5, 12, 13, 20, 21, 28, 29, 156, 200, 157, 306, 158}},
    {"system6", 12, {6, 7, 14, 15, 22, 23, 30, 31, 147, 172, 178, 163}},
    {"system7", 20, {181, 182, 183, 186, 108, 109, 110, 184, 111, 188, 175, 227, 176, kSpare, 112, 148, kSpare, kSpare, kSpare, 197}},
    {"system8", 20, {228, 239, 240, 241, 242, 243, 244, 245, 246, 249, 250, 251, 252, 253, 254, 255, 256, 155, 177, 179}},
    {"system9", 20, {229, 230, 231, 232, 233, 234, 235, 236, kSpare, 198, 56, 57, 58, 59, 60, 61, 62, 63, kSpare, 187}},
    {"system10", 20, {270, 271, 272, 273, 274, 275, 276, 277, 280, 281, 282, 283, 284, 285, 286, 287, 64, 65, 66, 67}},
    {"system11", 20, {308, 309, 310, 311, 312, 313, 314, 315, 324, 325, 326, 327, 328, 329, 330, 331, 68, 69, 70, 71}},
    {"system12", 20, {180, 341, 342, 343, 344, 345, 346, 347, 348, 159, 160, 307, kSpare, kSpare, kSpare, kSpare, kSpare, kSpare, kSpare, kSpare}},
    {"mirror", 16, {40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55}},
};
constexpr int kKeyCount = int(sizeof kKeys / sizeof kKeys[0]);
static_assert(kKeyCount == 22, "PARAM.db holds 22 keys");

// The order in which saving writes them.
const char* const kSaveOrder[] = {
    "trigInDelay", "exposeTime", "sharp", "contrast", "adjustPlus", "numFailDetect", "numAllDetect",
    "isPswUsed", "password", "system1", "system2", "system3", "system4", "system5", "system6",
    "system7", "system8", "system9", "system10", "system11", "system12", "mirror",
};
static_assert(sizeof kSaveOrder / sizeof kSaveOrder[0] == kKeyCount, "every key is saved");

// Rows the loader creates when they are missing, so that the next start finds them.
bool insertedWhenMissing(const StoredKey& key)
{
    static const char* const kInserted[] = {"system7", "system8", "system9", "system10", "system11", "system12", "mirror"};
    for (const char* name : kInserted) {
        if (qstrcmp(key.name, name) == 0) {
            return true;
        }
    }
    return false;
}

const StoredKey& keyNamed(const char* name)
{
    for (const StoredKey& key : kKeys) {
        if (qstrcmp(key.name, name) == 0) {
            return key;
        }
    }
    Q_UNREACHABLE();
}

// The stored text of a key as the record holds it now.
QString composeValue(const StoredKey& key, const SystemParam& record, int language)
{
    if (key.count == 0) {
        return QString::fromLatin1(record.passwordLatin1());
    }
    QString text;
    for (int p = 0; p < key.count; ++p) {
        const int slot = key.positions[p];
        const qint32 v = slot == kSpare ? record.spare()
                         : slot == kLanguage ? language
                         : slot == kMachineType ? record.systemFunctionEdit()
                                                : record[slot];
        if (p > 0) {
            text += QLatin1Char(' ');
        }
        text += QString::number(v);
    }
    return text;
}

// Reads the integers of a stored value into the record, one per position, the
// way a text-stream read does: once the text holds no further decimal number,
// the remaining positions read as 0.
void parseValue(const StoredKey& key, const QString& text, SystemParam* record)
{
    const QStringList tokens = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    bool readable = true;
    for (int p = 0; p < key.count; ++p) {
        qint32 v = 0;
        if (readable && p < tokens.size()) {
            bool ok = false;
            v = tokens[p].toInt(&ok, 10);
            if (!ok) {
                readable = false;
                v = 0;
            }
        }
        const int slot = key.positions[p];
        if (slot == kSpare) {
            record->spare() = v;
        } else if (slot == kLanguage) {
            gLanguage = v;
        } else if (slot == kMachineType) {
            record->systemFunction() = v;
        } else {
            (*record)[slot] = v;
        }
    }
}

void logFailure(const char* what, const QSqlQuery& query)
{
    qWarning().noquote() << what << query.lastError().text();
}

// The index of the current parameter group. Only a plain non-negative
// decimal number is taken; anything else leaves group 0.
void loadGroupIndex(SystemParam* record)
{
    record->paraGroupIndex() = 0;
    QFile file(QString::fromLatin1(kGroupIndexFile));
    if (!file.exists()) {
        QSaveFile created(QString::fromLatin1(kGroupIndexFile));
        if (!created.open(QIODevice::WriteOnly) || created.write("0", 1) != 1 || !created.commit()) {
            qWarning() << "cannot create" << kGroupIndexFile;
        }
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "cannot read" << kGroupIndexFile;
        return;
    }
    static const QRegularExpression number(QStringLiteral("^\\s*\\+?(\\d+)(\\s|$)"));
    const QRegularExpressionMatch match = number.match(QString::fromLatin1(file.read(64)));
    bool ok = false;
    const int index = match.hasMatch() ? match.captured(1).toInt(&ok) : 0;
    if (ok) {
        record->paraGroupIndex() = index;
    } else {
        qWarning() << kGroupIndexFile << "holds no group index; group 0 is used";
    }
}

// The stored keys and the password. Returns the first failure (none when
// every key was read); a busy file ends the reading at once, as each further
// statement would only wait again.
QSqlError loadKeys(SystemParam* record, QSqlDatabase db)
{
    QSqlQuery select(db);
    if (!select.prepare(QStringLiteral("select value from sysparam where name=?"))) {
        logFailure("PARAM.db:", select);
        return select.lastError();
    }
    QSqlError failure;
    for (const StoredKey& key : kKeys) {
        select.addBindValue(QString::fromLatin1(key.name));
        if (!select.exec()) {
            logFailure(key.name, select);
            if (!failure.isValid()) {
                failure = select.lastError();
            }
            if (isBusyError(select.lastError())) {
                return failure;
            }
            continue;
        }
        const bool found = select.next();
        const QString text = found ? select.value(0).toString() : QString();
        select.finish();
        if (found) {
            if (key.count == 0) {
                const QByteArray latin1 = text.toLatin1();
                if (latin1.size() < SystemParam::PasswordBytes) {
                    record->setPasswordLatin1(latin1);
                }
            } else {
                parseValue(key, text, record);
            }
        } else if (insertedWhenMissing(key)) {
            // The new row holds what the record holds now (its defaults), so
            // that the next start does not read zeros into rest levels and
            // intervals.
            QSqlQuery insert(db);
            if (!insert.prepare(QStringLiteral("insert into sysparam (name, value) values(?, ?)"))) {
                logFailure(key.name, insert);
                continue;
            }
            insert.addBindValue(QString::fromLatin1(key.name));
            insert.addBindValue(composeValue(key, *record, gLanguage));
            if (!insert.exec()) {
                logFailure(key.name, insert);
            }
        }
    }
    return failure;
}

// Run-time slots of the machine type (T 189, side S 191, product detection
// P 133, semi-automatic A 118).
void deriveMachineType(SystemParam* r, int* curSide)
{
    const int type = r->systemFunction();
    const bool semiAuto = r->semiAuto() != 0;
    r->typeApplied() = 4;
    if (type == 0) {
        gDetectCount = 2;
        r->detectEnabled(0) = r->productDetect();
        r->detectEnabled(1) = 1;
        r->trigInput(0) = 0;
        r->trigInput(1) = semiAuto ? 2 : 0;
        return;
    }
    gDetectCount = 4;
    if (r->mouldSide() < 0 || r->mouldSide() > 3) {
        r->mouldSide() = 0;
    }
    const int p = r->productDetect() != 0 ? 1 : 0;
    switch (r->mouldSide()) {
    case 0:
        r->detectEnabled(0) = p;
        r->detectEnabled(1) = 1;
        r->detectEnabled(2) = 0;
        r->detectEnabled(3) = 0;
        if (curSide) {
            *curSide = 1;
        }
        break;
    case 1:
        r->detectEnabled(0) = 0;
        r->detectEnabled(1) = 0;
        r->detectEnabled(2) = p;
        r->detectEnabled(3) = 1;
        if (curSide) {
            *curSide = 0;
        }
        break;
    default:
        r->detectEnabled(0) = p;
        r->detectEnabled(1) = 1;
        r->detectEnabled(2) = p;
        r->detectEnabled(3) = 1;
        break;
    }
    const int sideInput = r->mouldSide() == 0 ? 2 : r->mouldSide() == 1 ? 3 : 255;
    if (type == 1) {
        r->trigInput(0) = 0;
        r->trigInput(1) = sideInput;
    } else {
        r->trigInput(0) = r->mouldSide() == 0 ? 0 : sideInput;
        r->trigInput(1) = semiAuto ? 2 : r->trigInput(0);
    }
}

// The default channel names, unless name.txt exists.
void fillChannelNames(int machineType)
{
    QFile names(QString::fromLatin1(kNameFile));
    if (names.open(QIODevice::ReadOnly)) {
        return;
    }
    static const int kInputs[3][5] = {
        {301, 302, 303, 304, 304},
        {301, 302, 376, 377, 304},
        {379, 380, 381, 382, 304},
    };
    static const int kOutputs[3][5] = {
        {305, 306, 307, 304, 304},
        {305, 378, 307, 304, 304},
        {378, 306, 307, 304, 304},
    };
    if (machineType < 0 || machineType > 2) {
        return;
    }
    for (int i = 0; i < 5; ++i) {
        gInputNames[i] = textOf(kInputs[machineType][i]);
        gOutputNames[i] = textOf(kOutputs[machineType][i]);
    }
}

void setCameraSerial(int i, const QByteArray& serial)
{
    std::memset(cameraSerials[i], 0, kCameraSerialBytes);
    std::memcpy(cameraSerials[i], serial.constData(), size_t(qMin(serial.size(), kCameraSerialBytes - 1)));
}

// The saved camera order. Any id up to 99 characters counts, network
// cameras' addresses such as "10.0.0.5" included; "0" means no camera. A
// select that fails leaves the entry as it was and inserts nothing: a row
// added while the file was only held would stand beside the real one. Returns
// the first failure; a busy file ends the reading at once.
QSqlError loadCameraSerials(SystemParam* record, QSqlDatabase db)
{
    record->snCount() = 0;
    QSqlQuery select(db);
    if (!select.prepare(QStringLiteral("select value from sysparam where name=?"))) {
        logFailure("SN.db:", select);
        return select.lastError();
    }
    QSqlError failure;
    for (int i = 0; i < kCameraSerialSlots; ++i) {
        const QString name = QStringLiteral("serialNB%1").arg(i);
        select.addBindValue(name);
        if (!select.exec()) {
            logFailure("SN.db", select);
            if (!failure.isValid()) {
                failure = select.lastError();
            }
            if (isBusyError(select.lastError())) {
                return failure;
            }
            continue;
        }
        const bool found = select.next();
        const QByteArray serial = found ? select.value(0).toString().toLatin1() : QByteArray();
        select.finish();
        if (found) {
            if (!serial.isEmpty() && serial != "0" && serial.size() < kCameraSerialBytes) {
                ++record->snCount();
                setCameraSerial(i, serial);
            }
        } else {
            setCameraSerial(i, "0");
            QSqlQuery insert(db);
            if (!insert.prepare(QStringLiteral("insert into sysparam (name, value) values(?, ?)"))) {
                logFailure("SN.db", insert);
                continue;
            }
            insert.addBindValue(name);
            insert.addBindValue(QStringLiteral("0"));
            if (!insert.exec()) {
                logFailure("SN.db", insert);
            }
        }
    }
    return failure;
}

// Every key in the order of saving; a missing row is inserted.
bool writeKeys(const SystemParam& record, int language, QSqlDatabase db)
{
    QSqlQuery update(db);
    QSqlQuery insert(db);
    if (!update.prepare(QStringLiteral("update sysparam set value=? where name=?"))) {
        logFailure("PARAM.db update:", update);
        return false;
    }
    if (!insert.prepare(QStringLiteral("insert into sysparam (name, value) values(?, ?)"))) {
        logFailure("PARAM.db insert:", insert);
        return false;
    }
    for (const char* name : kSaveOrder) {
        const QString key = QString::fromLatin1(name);
        const QString value = composeValue(keyNamed(name), record, language);
        update.addBindValue(value);
        update.addBindValue(key);
        if (!update.exec()) {
            logFailure(name, update);
            return false;
        }
        if (update.numRowsAffected() > 0) {
            continue;
        }
        insert.addBindValue(key);
        insert.addBindValue(value);
        if (!insert.exec()) {
            logFailure(name, insert);
            return false;
        }
    }
    return true;
}

bool writeKeysInTransaction(const SystemParam& record, int language, QSqlDatabase db)
{
    if (!db.isOpen()) {
        qWarning() << "PARAM.db is not open; the parameters are not saved";
        return false;
    }
    if (!db.transaction()) {
        qWarning().noquote() << "PARAM.db: no transaction:" << db.lastError().text();
        return false;
    }
    if (writeKeys(record, language, db) && db.commit()) {
        return true;
    }
    qWarning().noquote() << "PARAM.db: parameters not saved:" << db.lastError().text();
    db.rollback();
    return false;
}

TableCheck checkSysparam(const QSqlDatabase& db, QSqlError* error = nullptr)
{
    return checkTable(db, QStringLiteral("sysparam"), {QStringLiteral("name"), QStringLiteral("value")}, error);
}

// Copies through a temporary file, so that a power cut never leaves half a
// database under the real name; the copy is writable whatever the source's
// permissions. error receives the reason of a failure.
bool copyFile(const QString& source, const QString& target, QString* error = nullptr)
{
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    QFile from(source);
    if (!from.copy(part)) {
        const QString why = QStringLiteral("cannot copy %1 to %2: %3").arg(source, target, from.errorString());
        qWarning().noquote() << why;
        if (error) {
            *error = why;
        }
        QFile::remove(part);
        return false;
    }
    QFile::setPermissions(part, QFile::permissions(part) | QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(target);
    if (!QFile::rename(part, target)) {
        const QString why = QStringLiteral("cannot replace %1").arg(target);
        qWarning().noquote() << why;
        if (error) {
            *error = why;
        }
        QFile::remove(part);
        return false;
    }
    return true;
}

QString paramFileError()
{
    const QString table = textOf(160);
    return table.isEmpty() ? QCoreApplication::translate("VeZiRevoru", "系统参数文件错误，请还原\n参数组或联系供应商！")
                           : table;
}

bool createDatabase(const QString& path, const QString& connection, const std::function<bool(QSqlDatabase)>& fill,
                    QString* error)
{
    const QString part = path + QStringLiteral(".part");
    QFile::remove(part);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(part);
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery create(db);
            ok = create.exec(QStringLiteral("create table sysparam (name text, value text)")) && fill(db);
            if (!ok) {
                *error = create.lastError().text().isEmpty() ? db.lastError().text() : create.lastError().text();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (ok) {
        QFile::remove(path);
        ok = QFile::rename(part, path);
        if (!ok) {
            *error = QStringLiteral("cannot rename %1").arg(part);
        }
    }
    if (!ok) {
        QFile::remove(part);
    }
    return ok;
}

bool insertSerialRows(QSqlDatabase db)
{
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("insert into sysparam (name, value) values(?, ?)"));
    for (int i = 0; i < kCameraSerialSlots; ++i) {
        insert.addBindValue(QStringLiteral("serialNB%1").arg(i));
        insert.addBindValue(QStringLiteral("0"));
        if (!insert.exec()) {
            return false;
        }
    }
    return true;
}

} // namespace

int setParamBusyBoundMs(int ms)
{
    const int previous = gBusyBoundMs;
    gBusyBoundMs = qMax(0, ms);
    return previous;
}

QSqlDatabase openParamDatabase()
{
    const QString path = QString::fromLatin1(kParamDb);
    const QString connection = QString::fromLatin1(kParamConnectionName);
    gLoadedConnections.remove(connection);
    gUncheckedConnections.remove(connection);
    gHeldConnections.remove(connection);
    gToldHeld.remove(connection);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    db.setConnectOptions(busyTimeoutOption(statementBusyMs()));

    bool reported = false;
    const QFileInfo file(path);
    // An empty file holds neither parameters nor areas: it is what a failed
    // copy of an earlier start left, and the factory copy takes its place.
    if (!file.exists() || (file.isFile() && file.size() == 0)) {
        // The operator's language, like every other box; text 160 in Simplified
        // Chinese is the same sentence.
        warnOperator(paramFileError());
        reported = true;
        QString why;
        if (!copyFile(QString::fromLatin1(kFactoryParamDb), path, &why)) {
            // Opening now would create an empty PARAM.db, and the next start
            // would no longer see that the file is missing.
            qWarning().noquote() << "PARAM.db: the factory copy failed (" << why
                                 << "); the program runs on defaults and saves no parameters";
            tellOperator(textOf(kFactoryCopyFailedText));
            return db;
        }
    }
    if (!db.open()) {
        qWarning().noquote() << "PARAM.db:" << db.lastError().text();
    }
    QSqlError error;
    switch (checkSysparam(db, &error)) {
    case TableCheck::Present:
        break;
    case TableCheck::Busy:
        qWarning() << "PARAM.db is held by another program; it is not taken for damaged and the loader waits for it";
        gUncheckedConnections.insert(connection);
        break;
    case TableCheck::Damaged:
        qWarning().noquote() << "PARAM.db has no readable table sysparam:" << error.text();
        if (!reported) {
            warnOperator(paramFileError());
        }
        break;
    }
    return db;
}

QSqlDatabase openSerialDatabase()
{
    const QString path = QString::fromLatin1(kSerialDb);
    const QString connection = QString::fromLatin1(kSerialConnectionName);
    gLoadedConnections.remove(connection);
    gUncheckedConnections.remove(connection);
    gHeldConnections.remove(connection);
    gToldHeld.remove(connection);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    db.setConnectOptions(busyTimeoutOption(statementBusyMs()));
    // Opening a missing file would create an empty database, so a missing file
    // must not get that far.
    if (QFileInfo(path).isFile() && db.open()) {
        QSqlError error;
        switch (checkSysparam(db, &error)) {
        case TableCheck::Present:
            return db;
        case TableCheck::Busy:
            // The camera order is in there: a held file is never moved aside.
            qWarning() << "SN.db is held by another program; it is not taken for damaged and the loader waits for it";
            gUncheckedConnections.insert(connection);
            return db;
        case TableCheck::Damaged:
            qWarning().noquote() << "SN.db:" << error.text();
            break;
        }
    }
    db.close();
    qWarning() << "SN.db is missing or damaged; the factory copy replaces it";
    warnOperator(paramFileError());
    if (QFileInfo::exists(path)) {
        const QString bad = path + QStringLiteral(".bad");
        QFile::remove(bad);
        if (!QFile::rename(path, bad)) {
            QFile::remove(path);
        }
    }
    copyFile(QString::fromLatin1(kFactorySerialDb), path);
    if (!db.open()) {
        qWarning().noquote() << "SN.db:" << db.lastError().text();
    } else if (checkSysparam(db) != TableCheck::Present) {
        QSqlQuery create(db);
        if (!create.exec(QStringLiteral("create table sysparam (name text, value text)"))) {
            logFailure("SN.db:", create);
        }
    }
    return db;
}

namespace {

enum class LoadResult { Read, Busy, Failed };

// Reads one database for the loader: waits up to the bound while another
// program holds it, then runs read, and gives the connection its short
// statement wait back. Tells the operator when the file stayed held
// (busyText), or when it turns out damaged after the open could not look at
// it (the open reports the damage it saw itself).
LoadResult readDatabase(QSqlDatabase db, const char* file, int busyText, const std::function<QSqlError()>& read)
{
    const QString connection = db.connectionName();
    const bool unchecked = gUncheckedConnections.contains(connection);
    gUncheckedConnections.remove(connection);

    setBusyTimeout(db, gBusyBoundMs);
    QSqlError error;
    const TableCheck check = checkSysparam(db, &error);
    if (check == TableCheck::Present) {
        error = read();
    }
    setBusyTimeout(db, statementBusyMs());

    if (check == TableCheck::Present && !error.isValid()) {
        gHeldConnections.remove(connection);
        if (gToldHeld.remove(connection)) {
            qInfo().noquote() << file << "is free again and has been read";
        }
        return LoadResult::Read;
    }
    if (isBusyError(error)) {
        gHeldConnections.insert(connection);
        // Told once: the loader may be asked again and again while it waits.
        if (!gToldHeld.contains(connection)) {
            gToldHeld.insert(connection);
            qWarning().noquote() << file << "stayed held by another program for" << gBusyBoundMs
                                 << "ms; its values are not read:" << error.text();
            tellOperator(textOf(busyText));
        }
        return LoadResult::Busy;
    }
    gHeldConnections.remove(connection);
    gToldHeld.remove(connection);
    qWarning().noquote() << file << "could not be read:" << error.text();
    if (unchecked && check == TableCheck::Damaged) {
        warnOperator(paramFileError());
    }
    return LoadResult::Failed;
}

} // namespace

void loadSysParam(SystemParam* record, int* curSide)
{
    loadSysParam(record, QSqlDatabase::database(QString::fromLatin1(kParamConnectionName), false),
                 QSqlDatabase::database(QString::fromLatin1(kSerialConnectionName), false), curSide);
}

void loadSysParam(SystemParam* record, QSqlDatabase paramDb, QSqlDatabase serialDb, int* curSide)
{
    loadGroupIndex(record);
    const LoadResult params =
        readDatabase(paramDb, "PARAM.db", kParamBusyText, [&] { return loadKeys(record, paramDb); });
    if (params == LoadResult::Read) {
        gLoadedConnections.insert(paramDb.connectionName());
    } else {
        gLoadedConnections.remove(paramDb.connectionName());
    }
    for (int i = 5; i < 10; ++i) {
        record->outInitState(i) = record->outInitState(4);
    }
    clampSysParam(record);
    if (gLanguage < 0 || gLanguage > 3) {
        gLanguage = 0;
    }
    deriveMachineType(record, curSide);
    fillChannelNames(record->systemFunction());
    record->snCount() = 0;
    const LoadResult serials =
        readDatabase(serialDb, "SN.db", kSerialBusyText, [&] { return loadCameraSerials(record, serialDb); });
    if (serials == LoadResult::Read) {
        gLoadedConnections.insert(serialDb.connectionName());
    } else {
        gLoadedConnections.remove(serialDb.connectionName());
    }
}

bool sysParamHeld()
{
    return gHeldConnections.contains(QString::fromLatin1(kParamConnectionName));
}

bool cameraSerialsHeld()
{
    return gHeldConnections.contains(QString::fromLatin1(kSerialConnectionName));
}

bool sysParamLoaded()
{
    return sysParamLoaded(QSqlDatabase::database(QString::fromLatin1(kParamConnectionName), false));
}

bool sysParamLoaded(const QSqlDatabase& paramDb)
{
    return paramDb.isValid() && gLoadedConnections.contains(paramDb.connectionName());
}

bool cameraSerialsLoaded()
{
    return cameraSerialsLoaded(QSqlDatabase::database(QString::fromLatin1(kSerialConnectionName), false));
}

bool cameraSerialsLoaded(const QSqlDatabase& serialDb)
{
    return serialDb.isValid() && gLoadedConnections.contains(serialDb.connectionName());
}

bool saveSysParam(SystemParam* record)
{
    return saveSysParam(record, QSqlDatabase::database(QString::fromLatin1(kParamConnectionName), false));
}

bool saveSysParam(SystemParam* record, QSqlDatabase paramDb)
{
    if (!sysParamLoaded(paramDb)) {
        qWarning() << "PARAM.db: the parameters were never read from it, so the record holds fallback values;"
                      " they are not saved over the stored ones";
        return false;
    }
    return writeKeysInTransaction(*record, gLanguage, paramDb);
}

bool saveSysParamWithLanguage(SystemParam* record, int language)
{
    QSqlDatabase paramDb = QSqlDatabase::database(QString::fromLatin1(kParamConnectionName), false);
    if (!sysParamLoaded(paramDb)) {
        qWarning() << "PARAM.db: the parameters were never read from it, so the record holds fallback values;"
                      " they are not saved over the stored ones";
        return false;
    }
    return writeKeysInTransaction(*record, language, paramDb);
}

bool saveParaGroupIndex(SystemParam* record)
{
    QSaveFile file(QString::fromLatin1(kGroupIndexFile));
    const QByteArray content = QByteArray::number(record->paraGroupIndex()) + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        qWarning() << "cannot write" << kGroupIndexFile << file.errorString();
        return false;
    }
    return true;
}

// One area table per camera, each detect without areas: a factory start then
// loads every camera's areas cleanly instead of warning about missing tables.
bool writeEmptyCameraTables(QSqlDatabase db)
{
    for (int camera = 0; camera < MaxCameras; ++camera) {
        const QString table = QStringLiteral("cammer%1").arg(camera);
        QSqlQuery create(db);
        if (!create.exec(QStringLiteral("create table %1 (name text, value text)").arg(table))) {
            return false;
        }
        QSqlQuery insert(db);
        if (!insert.prepare(QStringLiteral("insert into %1 values(?, ?)").arg(table))) {
            return false;
        }
        for (int detect = 0; detect < DetectsPerCamera; ++detect) {
            insert.addBindValue(QStringLiteral("detect%1").arg(detect));
            insert.addBindValue(QStringLiteral("0 0 0 0 0 0 0 0 0"));
            if (!insert.exec()) {
                return false;
            }
        }
    }
    return true;
}

bool writeFactoryParamGroup(const QString& folder, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    if (!QDir().mkpath(folder)) {
        why = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    const QDir dir(folder);
    const SystemParam factory = factorySysParam();
    const bool paramOk = createDatabase(dir.filePath(QString::fromLatin1(kParamDb)), QStringLiteral("factoryParam"),
                                        [&](QSqlDatabase db) {
                                            return db.transaction() && writeKeys(factory, kFactoryLanguage, db)
                                                   && writeEmptyCameraTables(db) && db.commit();
                                        },
                                        &why);
    return paramOk
           && createDatabase(dir.filePath(QString::fromLatin1(kSerialDb)), QStringLiteral("factorySerial"),
                             insertSerialRows, &why);
}
