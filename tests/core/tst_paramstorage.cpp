#include "databaselocker.h"
#include "globals.h"
#include "paramstorage.h"
#include "promptanswerer.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <climits>
#include <cstring>
#include <memory>
#include <utility>

namespace {

using Rows = QMap<QString, QString>;

// Opens a database file on a connection of its own for the length of one call.
template <typename Fn>
auto withDatabase(const QString& path, Fn fn, const QString& options = QString())
{
    const QString name = QStringLiteral("inspect");
    decltype(fn(std::declval<QSqlDatabase&>())) result{};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(options);
        if (db.open()) {
            result = fn(db);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

Rows readRows(const QString& path)
{
    return withDatabase(path, [](QSqlDatabase& db) {
        Rows rows;
        QSqlQuery q(db);
        q.exec(QStringLiteral("select name, value from sysparam"));
        while (q.next()) {
            rows.insert(q.value(0).toString(), q.value(1).toString());
        }
        return rows;
    });
}

bool execSql(const QString& path, const QString& sql, const QVariantList& values = {})
{
    return withDatabase(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.prepare(sql);
        for (const QVariant& v : values) {
            q.addBindValue(v);
        }
        const bool ok = q.exec();
        if (!ok) {
            qWarning() << sql << q.lastError().text();
        }
        return ok;
    });
}

bool setRow(const QString& path, const QString& name, const QString& value)
{
    return execSql(path, QStringLiteral("update sysparam set value=? where name=?"), {value, name});
}

bool deleteRow(const QString& path, const QString& name)
{
    return execSql(path, QStringLiteral("delete from sysparam where name=?"), {name});
}

// Slots PARAM.db stores (the rest are defaults or worked out at load).
QVector<int> storedSlots()
{
    QVector<int> stored;
    const auto add = [&](int first, int last) {
        for (int s = first; s <= last; ++s) {
            stored << s;
        }
    };
    add(0, 79);
    add(108, 112);
    add(118, 118);
    add(127, 133);
    add(135, 141);
    add(143, 188);
    add(191, 201);
    add(227, 236);
    add(239, 246);
    add(249, 256);
    add(270, 277);
    add(280, 287);
    add(306, 315);
    add(324, 331);
    add(341, 348);
    return stored;
}

void fillTexts()
{
    for (int n : {160, 626, 627, 628, 301, 302, 303, 304, 305, 306, 307, 376, 377, 378, 379, 380, 381, 382}) {
        for (int lang = 0; lang < 4; ++lang) {
            gTextTable[4 * n + lang] = QStringLiteral("T%1.%2").arg(n).arg(lang);
        }
    }
}

void resetGlobals()
{
    gLanguage = 0;
    gDetectCount = 0;
    for (int i = 0; i < 10; ++i) {
        gInputNames[i].clear();
        gOutputNames[i].clear();
    }
    std::memset(cameraSerials, 0, sizeof cameraSerials);
}

// The factory parameter group, written once per test run and copied into
// every working folder.
QString factoryTemplate()
{
    static QTemporaryDir dir;
    static const bool written = writeFactoryParamGroup(dir.path());
    return written ? dir.path() : QString();
}

// A working folder with the factory parameter group, PARAM.db and SN.db
// copied from it and both connections open, as the main window leaves them.
class ParamFolder {
public:
    explicit ParamFolder(bool withFiles = true)
    {
        resetGlobals();
        fillTexts();
        paramStorageOperationLog = [this](const QString& text) { operationLog << text; };
        QDir().mkpath(QStringLiteral("paraGroup/default"));
        for (const QString& name : {QStringLiteral("PARAM.db"), QStringLiteral("SN.db")}) {
            if (factoryTemplate().isEmpty()
                || !QFile::copy(factoryTemplate() + QLatin1Char('/') + name, QStringLiteral("paraGroup/default/") + name)) {
                qFatal("no factory parameter group");
            }
        }
        if (withFiles) {
            QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
            QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
            open();
        }
    }
    ~ParamFolder()
    {
        close();
        paramStorageOperationLog = {};
    }

    void open()
    {
        paramDb = openParamDatabase();
        serialDb = openSerialDatabase();
    }
    void close()
    {
        paramDb = QSqlDatabase();
        serialDb = QSqlDatabase();
        for (const char* name : {kParamConnectionName, kSerialConnectionName}) {
            if (QSqlDatabase::contains(QString::fromLatin1(name))) {
                QSqlDatabase::database(QString::fromLatin1(name), false).close();
                QSqlDatabase::removeDatabase(QString::fromLatin1(name));
            }
        }
    }
    // Reopens PARAM.db on "dbIn" with extra connection options.
    void reopenParam(const QString& options)
    {
        paramDb.close();
        paramDb.setConnectOptions(options);
        paramDb.open();
    }

    // A fresh record loaded as the main window does it.
    SystemParam load(int* curSide = nullptr)
    {
        SystemParam r;
        r.clear();
        initSysParamDefaults(&r);
        loadSysParam(&r, curSide);
        return r;
    }
    // Stores the record as it is and loads it again.
    SystemParam saveAndLoad(SystemParam record, int* curSide = nullptr)
    {
        const bool saved = saveSysParam(&record);
        if (!saved) {
            qWarning() << "saving failed";
        }
        return load(curSide);
    }
    Rows rows() const { return readRows(QStringLiteral("PARAM.db")); }

    TestWorkDir dir;
    PromptAnswerer prompts;
    QStringList& warnings = prompts.warnings;
    QStringList operationLog;
    QSqlDatabase paramDb;
    QSqlDatabase serialDb;
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// How long the loader waits for a held file, for one test.
class BusyBound {
public:
    explicit BusyBound(int ms)
        : m_previous(setParamBusyBoundMs(ms))
    {
    }
    ~BusyBound() { setParamBusyBoundMs(m_previous); }
    BusyBound(const BusyBound&) = delete;
    BusyBound& operator=(const BusyBound&) = delete;

private:
    int m_previous;
};

} // namespace

class TestParamStorage : public QObject {
    Q_OBJECT

private slots:
    void factoryGroupLoadsAsFactoryRecord();
    void saveWritesEveryPositionOfEveryKey();
    void saveLoadRoundTripIsExact();
    void shortValueReadsZerosForTheRest_data();
    void shortValueReadsZerosForTheRest();
    void clampsAtLoad_data();
    void clampsAtLoad();
    void atLeastOneInspectionFunction_data();
    void atLeastOneInspectionFunction();
    void machineTypeGrid_data();
    void machineTypeGrid();
    void missingRowsAreInsertedWithTheDefaults();
    void areaOutputsFollowOutputFour();

    void passwordWithQuoteIsStoredAsTyped();
    void latin1PasswordSurvivesRounds();
    void passwordLengthAtLoad_data();
    void passwordLengthAtLoad();
    void savedPasswordStopsAtItsSlots();

    void saveFailsOnReadOnlyDatabase();
    void saveFailsWhileLocked();
    void saveRollsBackAFailureHalfway();
    void saveInsertsMissingRows();
    void saveWithoutDatabaseFails();

    void groupIndexAtLoad_data();
    void groupIndexAtLoad();
    void missingGroupIndexFileIsCreated();
    void groupIndexIsReplacedAtomically();

    void channelNames_data();
    void channelNames();

    void serialNumbers();
    void missingSerialRowIsInserted();
    void damagedSerialDatabaseIsReplaced_data();
    void damagedSerialDatabaseIsReplaced();
    void serialDatabaseWithoutFactoryCopyGetsItsTable();
    void paramDatabaseFromFactory_data();
    void paramDatabaseFromFactory();
    void paramDatabaseWithoutTableIsReportedAndKept_data();
    void paramDatabaseWithoutTableIsReportedAndKept();

    void heldDatabaseIsWaitedForAndNeverReplaced_data();
    void heldDatabaseIsWaitedForAndNeverReplaced();
};

void TestParamStorage::factoryGroupLoadsAsFactoryRecord()
{
    ParamFolder folder(false);
    QVERIFY(writeFactoryParamGroup(QStringLiteral("paraGroup/default")));
    // Written again over an existing group, as the demo script does.
    QVERIFY(writeFactoryParamGroup(QStringLiteral("paraGroup/default")));
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
    folder.open();
    QVERIFY(folder.warnings.isEmpty());
    QCOMPARE(QDir(QStringLiteral("paraGroup/default")).entryList(QDir::Files), (QStringList{"PARAM.db", "SN.db"}));
    QCOMPARE(readRows(QStringLiteral("paraGroup/default/PARAM.db")).size(), 22);
    const Rows serials = readRows(QStringLiteral("paraGroup/default/SN.db"));
    QCOMPARE(serials.size(), 8);
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(serials.value(QStringLiteral("serialNB%1").arg(i)), QStringLiteral("0"));
    }

    gLanguage = 3;
    const SystemParam loaded = folder.load();
    const SystemParam factory = factorySysParam();
    for (int s : storedSlots()) {
        QVERIFY2(loaded[s] == factory[s], qPrintable(QStringLiteral("slot %1").arg(s)));
    }
    QCOMPARE(gLanguage, kFactoryLanguage);
    QCOMPARE(loaded.snCount(), 0);
    QCOMPARE(gDetectCount, 2);
}

void TestParamStorage::saveWritesEveryPositionOfEveryKey()
{
    ParamFolder folder;
    folder.load();  // a save writes only through a connection it read
    SystemParam r;
    for (int s = 0; s < SystemParam::SlotCount; ++s) {
        r[s] = s;
    }
    r[5] = -5;
    QVERIFY(r.setPasswordLatin1("secret"));
    gLanguage = 3;
    QVERIFY(saveSysParam(&r));

    const Rows expected{
        {"trigInDelay", "72 73 74 75 76 77 78 79"},
        {"exposeTime", "0 1 2 3"},
        {"adjustPlus", "8 9 10 11"},
        {"numFailDetect", "190 191 193 194 201 195 196 199"},
        {"numAllDetect", "32 33 34 35 36 37 38 39"},
        {"isPswUsed", "131"},
        {"password", "secret"},
        {"system1", "118 133 127 129 128 192 143 137 201"},
        {"system2", "130 135 185 136 144 145 152 154 151 161 162 201 3 173 174 138 139 146"},
        {"system3", "153 164 140 165 166 167 168 169 141 171 170"},
        {"system4", "132 149 150"},
        {"sharp", "16 17 18 19"},
        {"contrast", "24 25 26 27"},
        {"system5", "4 -5 12 13 20 21 28 29 156 200 157 306 158"},
        {"system6", "6 7 14 15 22 23 30 31 147 172 178 163"},
        {"system7", "181 182 183 186 108 109 110 184 111 188 175 227 176 201 112 148 201 201 201 197"},
        {"system8", "228 239 240 241 242 243 244 245 246 249 250 251 252 253 254 255 256 155 177 179"},
        {"system9", "229 230 231 232 233 234 235 236 201 198 56 57 58 59 60 61 62 63 201 187"},
        {"system10", "270 271 272 273 274 275 276 277 280 281 282 283 284 285 286 287 64 65 66 67"},
        {"system11", "308 309 310 311 312 313 314 315 324 325 326 327 328 329 330 331 68 69 70 71"},
        {"system12", "180 341 342 343 344 345 346 347 348 159 160 307 201 201 201 201 201 201 201 201"},
        {"mirror", "40 41 42 43 44 45 46 47 48 49 50 51 52 53 54 55"},
    };
    QCOMPARE(folder.rows(), expected);
}

void TestParamStorage::saveLoadRoundTripIsExact()
{
    ParamFolder folder;
    SystemParam a = folder.load();
    // Every stored setting gets a value of its own inside its limits; the
    // slots that decide the machine type keep the loaded values, so the
    // run-time slots worked out at load stay the same.
    for (int s : storedSlots()) {
        if (s == 112 || s == 118 || s == 133 || s == 191) {
            continue;
        }
        a[s] = 1 + s % 7;
    }
    for (int c = 0; c < 8; ++c) {
        a.tempRange(c) = c % 3;
    }
    a.motionCorrect() = 0;
    a.screenOffSec() = 45;
    a.detectCount() = 7;
    a.maxOffset() = 7999;
    a.exposeTime(6) = 10000;
    a.spare() = 99;
    QVERIFY(a.setPasswordText(QString::fromUtf8("Grüße§ÿ")));
    gLanguage = 2;
    QVERIFY(saveSysParam(&a));

    gLanguage = 0;
    const SystemParam b = folder.load();
    QCOMPARE(gLanguage, 2);
    for (int s = 0; s < SystemParam::SlotCount; ++s) {
        QVERIFY2(a[s] == b[s], qPrintable(QStringLiteral("slot %1: %2 != %3").arg(s).arg(a[s]).arg(b[s])));
    }
    QVERIFY(a == b);
}

void TestParamStorage::shortValueReadsZerosForTheRest_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QVector<int>>("delays");

    QTest::newRow("two numbers") << "5 7" << QVector<int>{5, 7, 0, 0, 0, 0, 0, 0};
    QTest::newRow("empty") << "" << QVector<int>{0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("extra blanks") << "  5   7 " << QVector<int>{5, 7, 0, 0, 0, 0, 0, 0};
    QTest::newRow("not a number stops reading") << "5 x 7 9" << QVector<int>{5, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("more numbers than positions") << "1 2 3 4 5 6 7 8 9" << QVector<int>{1, 2, 3, 4, 5, 6, 7, 8};
}

void TestParamStorage::shortValueReadsZerosForTheRest()
{
    QFETCH(QString, stored);
    QFETCH(QVector<int>, delays);
    ParamFolder folder;
    QVERIFY(setRow(QStringLiteral("PARAM.db"), QStringLiteral("trigInDelay"), stored));
    const SystemParam r = folder.load();
    for (int k = 0; k < 8; ++k) {
        QCOMPARE(r.trigInDelay(k), delays[k]);
    }
}

void TestParamStorage::clampsAtLoad_data()
{
    QTest::addColumn<int>("slot");  // -2: the UI language
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("loaded");

    // slot, lowest, highest, value outside
    struct Range {
        const char* name;
        int slot;
        int lo;
        int hi;
        int fallback;
    };
    const Range ranges[] = {
        {"exposure camera 0", 0, 0, 10000, 30},
        {"exposure camera 5", 5, 0, 10000, 30},
        {"gain camera 0", 8, 0, 10000, 32},
        {"gain camera 7", 15, 0, 10000, 32},
        {"sharpness camera 1", 17, 0, 10000, 0},
        {"sharpness camera 6", 22, 0, 10000, 0},
        {"contrast camera 2", 26, 0, 10000, 50},
        {"contrast camera 4", 28, 0, 10000, 50},
        {"gamma camera 0", 32, 0, 10000, 70},
        {"gamma camera 7", 39, 0, 10000, 70},
        {"temperature range camera 0", 64, 0, 2, 1},
        {"temperature range camera 7", 71, 0, 2, 1},
        {"custom detect count", 228, 2, 8, 2},
        {"machine type", 189, 0, 2, 0},
        {"pre-cut clamp", 192, 0, 10000, 0},
        {"re-checks", 143, 0, 10000, 0},
        {"filter size", 149, 1, 100, 3},
        {"alarm area", 150, 1, 100000, 100},
        {"templates", 135, 1, 100, 10},
        {"NG pictures", 136, 0, 10000, 0},
        {"OK pictures", 137, 0, 10000, 0},
        {"ejector pulse", 144, 0, 10000, 0},
        {"clamp pulse", 145, 0, 10000, 0},
        {"rotation range", 200, 0, 180, 0},
        {"logout", 141, 0, 10000, 0},
        {"difference factor", 140, 0, 4, 0},
        {"largest offset", 174, 1, 8000, 8000},
        {"acquisition speed", 139, 0, 100, 12},
        {"language", -2, 0, 3, 0},
        {"serial port", 181, 0, 100, 0},
        {"smallest spot", 185, 1, 100, 3},
        {"spare", 201, 0, 100000000, 0},
        // Timer intervals, held to what their editors allow.
        {"input time-out", 146, 0, 10000, 60},
        {"product delay", 72, 0, 10000, 0},
        {"cavity delay", 73, 0, 10000, 0},
        {"delay of detect 7", 79, 0, 10000, 0},
        {"output-4 delay after input 3", 341, 0, 10000, 0},
        {"output-4 delay after input 4", 342, 0, 10000, 0},
        {"debounce", 147, 0, 100, 0},
        {"alarm length", 148, 0, 100, 10},
        {"recording interval", 307, 1, 100, 30},
    };
    for (const Range& r : ranges) {
        const QList<qint64> values{-1, 0, INT_MAX, INT_MIN, r.lo, r.hi, qint64(r.lo) - 1, qint64(r.hi) + 1};
        for (qint64 v : values) {
            const int loaded = v >= r.lo && v <= r.hi ? int(v) : r.fallback;
            QTest::addRow("%s %lld", r.name, v) << r.slot << int(v) << loaded;
        }
    }
    // Positioning: -1 off, 0 on, anything else off.
    for (int v : {-1, 0, 1, 2, INT_MAX, INT_MIN}) {
        QTest::addRow("positioning %d", v) << 129 << v << (v == 0 ? 0 : -1);
    }
    // Screen-off delay: 0 never, else 30 to 9999 seconds.
    for (int v : {0, -1, 29, 30, 9999, 10000, INT_MAX}) {
        QTest::addRow("screen off %d", v) << 138 << v << (v == 0 || (v >= 30 && v <= 9999) ? v : 600);
    }
    // Slots without limits keep what was stored.
    QTest::newRow("semi-automatic unclamped") << 118 << INT_MAX << INT_MAX;
    QTest::newRow("mould side unclamped on a standard machine") << 191 << 7 << 7;
    QTest::newRow("distance unclamped") << 56 << -1 << -1;
}

void TestParamStorage::clampsAtLoad()
{
    QFETCH(int, slot);
    QFETCH(int, stored);
    QFETCH(int, loaded);
    ParamFolder folder;
    SystemParam r = folder.load();
    if (slot == -2) {
        gLanguage = stored;
    } else if (slot == 189) {
        r.systemFunctionEdit() = stored;  // stored in place of the type in force
    } else {
        r[slot] = stored;
    }
    const SystemParam after = folder.saveAndLoad(r);
    if (slot == -2) {
        QCOMPARE(gLanguage, loaded);
    } else {
        QCOMPARE(after[slot], loaded);
    }
    if (slot == 189) {
        QCOMPARE(after.systemFunctionEdit(), loaded);
    }
}

void TestParamStorage::atLeastOneInspectionFunction_data()
{
    QTest::addColumn<int>("setSlot");  // 0: none of the six switches set
    QTest::addColumn<int>("defect");

    QTest::newRow("all six off") << 0 << 1;
    for (int slot : {166, 195, 196, 199, 197}) {
        QTest::addRow("only %d on", slot) << slot << 0;
    }
    QTest::newRow("ignore area does not count") << 167 << 1;
}

void TestParamStorage::atLeastOneInspectionFunction()
{
    QFETCH(int, setSlot);
    QFETCH(int, defect);
    ParamFolder folder;
    SystemParam r = folder.load();
    for (int slot : {165, 166, 167, 195, 196, 199, 197}) {
        r[slot] = 0;
    }
    if (setSlot) {
        r[setSlot] = 1;
    }
    QCOMPARE(folder.saveAndLoad(r).algoDefect(), defect);
}

void TestParamStorage::machineTypeGrid_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("semiAuto");
    QTest::addColumn<QVector<int>>("trigInputs");     // slots 81, 82
    QTest::addColumn<QVector<int>>("detectsEnabled"); // slots 119 to 122
    QTest::addColumn<int>("curSide");                 // -7: left alone
    QTest::addColumn<int>("detectCount");
    QTest::addColumn<int>("sideAfter");

    using V = QVector<int>;
    // Standard machine: the side does not matter and slot 119 takes slot 133 as it is.
    QTest::newRow("0/0 P- A-") << 0 << 0 << 0 << 0 << V{0, 0} << V{0, 1, 0, 0} << -7 << 2 << 0;
    QTest::newRow("0/1 P+ A-") << 0 << 1 << 5 << 0 << V{0, 0} << V{5, 1, 0, 0} << -7 << 2 << 1;
    QTest::newRow("0/2 P- A+") << 0 << 2 << 0 << 1 << V{0, 2} << V{0, 1, 0, 0} << -7 << 2 << 2;
    QTest::newRow("0/3 P+ A+") << 0 << 3 << 5 << 1 << V{0, 2} << V{5, 1, 0, 0} << -7 << 2 << 3;
    QTest::newRow("0/0 P+ A-") << 0 << 0 << 5 << 0 << V{0, 0} << V{5, 1, 0, 0} << -7 << 2 << 0;
    QTest::newRow("0/1 P- A-") << 0 << 1 << 0 << 0 << V{0, 0} << V{0, 1, 0, 0} << -7 << 2 << 1;
    QTest::newRow("0/2 P+ A-") << 0 << 2 << 5 << 0 << V{0, 0} << V{5, 1, 0, 0} << -7 << 2 << 2;
    QTest::newRow("0/3 P- A-") << 0 << 3 << 0 << 0 << V{0, 0} << V{0, 1, 0, 0} << -7 << 2 << 3;
    QTest::newRow("0/7 side kept") << 0 << 7 << 0 << 0 << V{0, 0} << V{0, 1, 0, 0} << -7 << 2 << 7;
    // Two-colour machine.
    QTest::newRow("1/0 P- A-") << 1 << 0 << 0 << 0 << V{0, 2} << V{0, 1, 0, 0} << 1 << 4 << 0;
    QTest::newRow("1/0 P+ A-") << 1 << 0 << 5 << 0 << V{0, 2} << V{1, 1, 0, 0} << 1 << 4 << 0;
    QTest::newRow("1/1 P- A-") << 1 << 1 << 0 << 0 << V{0, 3} << V{0, 0, 0, 1} << 0 << 4 << 1;
    QTest::newRow("1/1 P+ A-") << 1 << 1 << 5 << 0 << V{0, 3} << V{0, 0, 1, 1} << 0 << 4 << 1;
    QTest::newRow("1/2 P- A-") << 1 << 2 << 0 << 0 << V{0, 255} << V{0, 1, 0, 1} << -7 << 4 << 2;
    QTest::newRow("1/2 P+ A-") << 1 << 2 << 5 << 0 << V{0, 255} << V{1, 1, 1, 1} << -7 << 4 << 2;
    QTest::newRow("1/3 P- A-") << 1 << 3 << 0 << 0 << V{0, 255} << V{0, 1, 0, 1} << -7 << 4 << 3;
    QTest::newRow("1/3 P+ A-") << 1 << 3 << 5 << 0 << V{0, 255} << V{1, 1, 1, 1} << -7 << 4 << 3;
    QTest::newRow("1/1 P+ A+") << 1 << 1 << 5 << 1 << V{0, 3} << V{0, 0, 1, 1} << 0 << 4 << 1;
    QTest::newRow("1/7 side reset") << 1 << 7 << 0 << 0 << V{0, 2} << V{0, 1, 0, 0} << 1 << 4 << 0;
    QTest::newRow("1/-1 side reset") << 1 << -1 << 5 << 0 << V{0, 2} << V{1, 1, 0, 0} << 1 << 4 << 0;
    // Rotary table.
    QTest::newRow("2/0 P- A-") << 2 << 0 << 0 << 0 << V{0, 0} << V{0, 1, 0, 0} << 1 << 4 << 0;
    QTest::newRow("2/0 P+ A-") << 2 << 0 << 5 << 0 << V{0, 0} << V{1, 1, 0, 0} << 1 << 4 << 0;
    QTest::newRow("2/1 P- A-") << 2 << 1 << 0 << 0 << V{3, 3} << V{0, 0, 0, 1} << 0 << 4 << 1;
    QTest::newRow("2/1 P+ A-") << 2 << 1 << 5 << 0 << V{3, 3} << V{0, 0, 1, 1} << 0 << 4 << 1;
    QTest::newRow("2/2 P- A-") << 2 << 2 << 0 << 0 << V{255, 255} << V{0, 1, 0, 1} << -7 << 4 << 2;
    QTest::newRow("2/2 P+ A-") << 2 << 2 << 5 << 0 << V{255, 255} << V{1, 1, 1, 1} << -7 << 4 << 2;
    QTest::newRow("2/3 P- A-") << 2 << 3 << 0 << 0 << V{255, 255} << V{0, 1, 0, 1} << -7 << 4 << 3;
    QTest::newRow("2/3 P+ A-") << 2 << 3 << 5 << 0 << V{255, 255} << V{1, 1, 1, 1} << -7 << 4 << 3;
    QTest::newRow("2/0 P+ A+") << 2 << 0 << 5 << 1 << V{0, 2} << V{1, 1, 0, 0} << 1 << 4 << 0;
    QTest::newRow("2/1 P- A+") << 2 << 1 << 0 << 1 << V{3, 2} << V{0, 0, 0, 1} << 0 << 4 << 1;
    QTest::newRow("2/2 P+ A+") << 2 << 2 << 5 << 1 << V{255, 2} << V{1, 1, 1, 1} << -7 << 4 << 2;
    QTest::newRow("2/9 side reset") << 2 << 9 << 0 << 0 << V{0, 0} << V{0, 1, 0, 0} << 1 << 4 << 0;
}

void TestParamStorage::machineTypeGrid()
{
    QFETCH(int, type);
    QFETCH(int, side);
    QFETCH(int, product);
    QFETCH(int, semiAuto);
    QFETCH(QVector<int>, trigInputs);
    QFETCH(QVector<int>, detectsEnabled);
    QFETCH(int, curSide);
    QFETCH(int, detectCount);
    QFETCH(int, sideAfter);

    ParamFolder folder;
    SystemParam r = folder.load();
    r.systemFunctionEdit() = type;
    r.mouldSide() = side;
    r.productDetect() = product;
    r.semiAuto() = semiAuto;
    QVERIFY(saveSysParam(&r));
    int loadedSide = -7;
    const SystemParam after = folder.load(&loadedSide);

    QCOMPARE(after.systemFunction(), type);
    QCOMPARE(after.systemFunctionEdit(), type);
    QCOMPARE((QVector<int>{after.trigInput(0), after.trigInput(1)}), trigInputs);
    QCOMPARE((QVector<int>{after.detectEnabled(0), after.detectEnabled(1), after.detectEnabled(2),
                           after.detectEnabled(3)}),
             detectsEnabled);
    QCOMPARE(loadedSide, curSide);
    QCOMPARE(gDetectCount, detectCount);
    QCOMPARE(after.mouldSide(), sideAfter);
    QCOMPARE(after.typeApplied(), 4);
}

void TestParamStorage::missingRowsAreInsertedWithTheDefaults()
{
    ParamFolder folder;
    SystemParam stored = folder.load();
    for (int i = 0; i < 5; ++i) {
        stored.outInitState(i) = 0;
    }
    stored.tempRecordMin() = 5;
    QVERIFY(saveSysParam(&stored));
    for (const char* key : {"system7", "system8", "system9", "system10", "system11", "system12", "mirror"}) {
        QVERIFY(deleteRow(QStringLiteral("PARAM.db"), QString::fromLatin1(key)));
    }

    const SystemParam first = folder.load();
    // The rows now hold what the record held at that moment: the defaults.
    const Rows rows = folder.rows();
    QCOMPARE(rows.value("system7"), QStringLiteral("0 0 0 0 1 1 1 0 1 0 0 0 0 0 1 0 0 0 0 0"));
    QCOMPARE(rows.value("system8"), QStringLiteral("2 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"));
    QCOMPARE(rows.value("system12"), QStringLiteral("0 0 0 0 0 0 0 0 0 0 0 30 0 0 0 0 0 0 0 0"));
    QCOMPARE(rows.value("mirror"), QStringLiteral("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"));
    QCOMPARE(rows.size(), 22);

    // A second start without a save in between keeps the rest levels and the interval.
    for (const SystemParam& r : {first, folder.load()}) {
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(r.outInitState(i), 1);
        }
        QCOMPARE(r.tempRecordMin(), 30);
        QCOMPARE(r.ioComPort(), 0);
        QCOMPARE(r.detectCount(), 2);
    }
}

void TestParamStorage::areaOutputsFollowOutputFour()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    r.outInitState(4) = 0;
    for (int i = 5; i < 10; ++i) {
        r.outInitState(i) = 1;
    }
    const SystemParam after = folder.saveAndLoad(r);
    for (int i = 4; i < 10; ++i) {
        QCOMPARE(after.outInitState(i), 0);
    }
}

void TestParamStorage::passwordWithQuoteIsStoredAsTyped()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    QVERIFY(r.setPasswordText(QStringLiteral("abc")));
    QVERIFY(saveSysParam(&r));
    Rows before = folder.rows();

    const QString typed = QStringLiteral("x' --");
    QVERIFY(r.setPasswordText(typed));
    QVERIFY(saveSysParam(&r));
    Rows after = folder.rows();
    QCOMPARE(after.take("password"), typed);
    before.remove("password");
    QCOMPARE(after, before);
    QCOMPARE(folder.load().passwordText(), typed);
}

void TestParamStorage::latin1PasswordSurvivesRounds()
{
    ParamFolder folder;
    const QString typed = QString::fromUtf8("Grüße§ÿ");
    SystemParam r = folder.load();
    QVERIFY(r.setPasswordText(typed));
    const QByteArray bytes = r.passwordLatin1();
    for (int round = 0; round < 4; ++round) {
        QVERIFY(saveSysParam(&r));
        QCOMPARE(folder.rows().value("password"), typed);
        r = folder.load();
        QCOMPARE(r.passwordLatin1(), bytes);
    }
}

void TestParamStorage::passwordLengthAtLoad_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QByteArray>("loaded");

    QTest::newRow("99 characters") << QString(99, QLatin1Char('p')) << QByteArray(99, 'p');
    QTest::newRow("100 characters") << QString(100, QLatin1Char('p')) << QByteArray("before");
    QTest::newRow("300 characters") << QString(300, QLatin1Char('p')) << QByteArray("before");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("outside latin-1") << QString::fromUtf8("密码1") << QByteArray("??1");
}

void TestParamStorage::passwordLengthAtLoad()
{
    QFETCH(QString, stored);
    QFETCH(QByteArray, loaded);
    ParamFolder folder;
    QVERIFY(setRow(QStringLiteral("PARAM.db"), QStringLiteral("password"), stored));
    SystemParam r;
    r.clear();
    initSysParamDefaults(&r);
    QVERIFY(r.setPasswordLatin1("before"));
    r[227] = 0x11223344;
    loadSysParam(&r);
    QCOMPARE(r.passwordLatin1(), loaded);
    QCOMPARE(r[227], 0);  // slot 227 is read from system7, never overwritten by the password
}

void TestParamStorage::savedPasswordStopsAtItsSlots()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    std::memset(r.password(), 'A', SystemParam::PasswordBytes);
    r[227] = 0x42424242;  // "BBBB" right behind the password slots
    QVERIFY(saveSysParam(&r));
    QCOMPARE(folder.rows().value("password"), QString(99, QLatin1Char('A')));
    QCOMPARE(folder.load().passwordLatin1(), QByteArray(99, 'A'));
}

void TestParamStorage::saveFailsOnReadOnlyDatabase()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    folder.reopenParam(QStringLiteral("QSQLITE_OPEN_READONLY"));
    const QByteArray before = fileBytes(QStringLiteral("PARAM.db"));
    r.exposeTime(0) = 77;
    QVERIFY(!saveSysParam(&r));
    QCOMPARE(fileBytes(QStringLiteral("PARAM.db")), before);
}

void TestParamStorage::saveFailsWhileLocked()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    folder.reopenParam(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    const Rows before = folder.rows();
    r.exposeTime(0) = 77;
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(QStringLiteral("PARAM.db"));
        QVERIFY(other.open());
        {
            QSqlQuery lock(other);
            QVERIFY(lock.exec(QStringLiteral("begin exclusive")));
            QVERIFY(!saveSysParam(&r));
            QVERIFY(lock.exec(QStringLiteral("rollback")));
        }
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    QCOMPARE(folder.rows(), before);
    // Once the lock is gone the same connection saves again.
    QVERIFY(saveSysParam(&r));
    QCOMPARE(folder.rows().value("exposeTime"), QStringLiteral("77 30 30 30"));
}

void TestParamStorage::saveRollsBackAFailureHalfway()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    // system5 is written after trigInDelay; its failure must undo the earlier rows too.
    QVERIFY(execSql(QStringLiteral("PARAM.db"),
                    QStringLiteral("create trigger refuse before update on sysparam when new.name = 'system5' "
                                   "begin select raise(abort, 'refused'); end")));
    const Rows before = folder.rows();
    r.trigInDelay(0) = 42;
    r.exposeTime(5) = 43;
    QVERIFY(!saveSysParam(&r));
    QCOMPARE(folder.rows(), before);
}

void TestParamStorage::saveInsertsMissingRows()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    QVERIFY(execSql(QStringLiteral("PARAM.db"), QStringLiteral("delete from sysparam")));
    r.trigInDelay(1) = 25;
    QVERIFY(r.setPasswordText(QStringLiteral("pw")));
    QVERIFY(saveSysParam(&r));
    const Rows rows = folder.rows();
    QCOMPARE(rows.size(), 22);
    QCOMPARE(rows.value("trigInDelay"), QStringLiteral("10 25 10 10 10 10 10 10"));
    QCOMPARE(rows.value("password"), QStringLiteral("pw"));
    QVERIFY(folder.load() == r);
    // Saving again updates rather than adding rows.
    QVERIFY(saveSysParam(&r));
    QCOMPARE(withDatabase(QStringLiteral("PARAM.db"),
                          [](QSqlDatabase& db) {
                              QSqlQuery q(db);
                              q.exec(QStringLiteral("select count(*) from sysparam"));
                              return q.next() ? q.value(0).toInt() : -1;
                          }),
             22);
}

void TestParamStorage::saveWithoutDatabaseFails()
{
    ParamFolder folder;
    SystemParam r = folder.load();
    folder.close();
    QVERIFY(!saveSysParam(&r));
}

void TestParamStorage::groupIndexAtLoad_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("index");

    QTest::newRow("with line end") << QByteArray("7\n") << 7;
    QTest::newRow("without line end") << QByteArray("12") << 12;
    QTest::newRow("windows line end") << QByteArray("3\r\n") << 3;
    QTest::newRow("leading blanks") << QByteArray("  4\n") << 4;
    QTest::newRow("negative") << QByteArray("-3\n") << 0;
    QTest::newRow("not a number") << QByteArray("abc") << 0;
    QTest::newRow("number with text") << QByteArray("5abc") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("too large") << QByteArray("99999999999") << 0;
}

void TestParamStorage::groupIndexAtLoad()
{
    QFETCH(QByteArray, content);
    QFETCH(int, index);
    ParamFolder folder;
    QVERIFY(folder.dir.write(QStringLiteral("sysadd.txt"), content));
    QCOMPARE(folder.load().paraGroupIndex(), index);
    QCOMPARE(folder.dir.read(QStringLiteral("sysadd.txt")), content);  // only read, never rewritten
}

void TestParamStorage::missingGroupIndexFileIsCreated()
{
    ParamFolder folder;
    SystemParam r;
    r.clear();
    r.paraGroupIndex() = 9;
    loadSysParam(&r);
    QCOMPARE(r.paraGroupIndex(), 0);
    QCOMPARE(folder.dir.read(QStringLiteral("sysadd.txt")), QByteArray("0"));
}

void TestParamStorage::groupIndexIsReplacedAtomically()
{
    ParamFolder folder;
    QVERIFY(folder.dir.write(QStringLiteral("sysadd.txt"), "3\n"));
    // A reader that opened the old file keeps seeing it whole: the new content
    // arrives under the name in one step, never by emptying the file first.
    QFile reader(QStringLiteral("sysadd.txt"));
    QVERIFY(reader.open(QIODevice::ReadOnly));

    SystemParam r;
    r.clear();
    r.paraGroupIndex() = 15;
    QVERIFY(saveParaGroupIndex(&r));
    QCOMPARE(folder.dir.read(QStringLiteral("sysadd.txt")), QByteArray("15\n"));
    QCOMPARE(reader.readAll(), QByteArray("3\n"));
    QCOMPARE(folder.load().paraGroupIndex(), 15);
}

void TestParamStorage::channelNames_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("nameFile");
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("outputs");

    QTest::newRow("standard, Chinese") << 0 << 0 << false
                                       << QStringList{"T301.0", "T302.0", "T303.0", "T304.0", "T304.0"}
                                       << QStringList{"T305.0", "T306.0", "T307.0", "T304.0", "T304.0"};
    QTest::newRow("two-colour, English") << 1 << 1 << false
                                         << QStringList{"T301.1", "T302.1", "T376.1", "T377.1", "T304.1"}
                                         << QStringList{"T305.1", "T378.1", "T307.1", "T304.1", "T304.1"};
    QTest::newRow("rotary, Japanese") << 2 << 3 << false
                                      << QStringList{"T379.3", "T380.3", "T381.3", "T382.3", "T304.3"}
                                      << QStringList{"T378.3", "T306.3", "T307.3", "T304.3", "T304.3"};
    QTest::newRow("name.txt present, even empty") << 1 << 2 << true << QStringList{"", "", "", "", ""}
                                                  << QStringList{"", "", "", "", ""};
}

void TestParamStorage::channelNames()
{
    QFETCH(int, type);
    QFETCH(int, language);
    QFETCH(bool, nameFile);
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, outputs);
    ParamFolder folder;
    if (nameFile) {
        QVERIFY(folder.dir.write(QStringLiteral("name.txt"), QByteArray()));
    }
    SystemParam r = folder.load();
    r.systemFunctionEdit() = type;
    gLanguage = language;
    gInputNames[5] = QStringLiteral("kept");
    folder.saveAndLoad(r);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(gInputNames[i], inputs[i]);
        QCOMPARE(gOutputNames[i], outputs[i]);
    }
    QCOMPARE(gInputNames[5], QStringLiteral("kept"));
}

void TestParamStorage::serialNumbers()
{
    ParamFolder folder;
    const QString sn = QStringLiteral("SN.db");
    const QString long99(99, QLatin1Char('L'));
    const QString long100(100, QLatin1Char('M'));
    QVERIFY(setRow(sn, "serialNB0", "DA1234567"));  // 9 characters
    QVERIFY(setRow(sn, "serialNB1", "10.0.0.5"));   // network camera address, 8 characters
    QVERIFY(setRow(sn, "serialNB2", "0"));          // no camera
    QVERIFY(setRow(sn, "serialNB3", long99));
    QVERIFY(setRow(sn, "serialNB4", long100));      // cannot be held
    QVERIFY(setRow(sn, "serialNB5", ""));
    QVERIFY(setRow(sn, "serialNB7", "K1"));
    std::strcpy(cameraSerials[4], "old4");
    std::strcpy(cameraSerials[2], "old2");

    const SystemParam r = folder.load();
    QCOMPARE(r.snCount(), 4);
    QCOMPARE(QByteArray(cameraSerials[0]), QByteArray("DA1234567"));
    QCOMPARE(QByteArray(cameraSerials[1]), QByteArray("10.0.0.5"));
    QCOMPARE(QByteArray(cameraSerials[2]), QByteArray("old2"));
    QCOMPARE(QByteArray(cameraSerials[3]), long99.toLatin1());
    QCOMPARE(QByteArray(cameraSerials[4]), QByteArray("old4"));
    QCOMPARE(QByteArray(cameraSerials[5]), QByteArray());
    QCOMPARE(QByteArray(cameraSerials[6]), QByteArray());
    QCOMPARE(QByteArray(cameraSerials[7]), QByteArray("K1"));
}

void TestParamStorage::missingSerialRowIsInserted()
{
    ParamFolder folder;
    QVERIFY(deleteRow(QStringLiteral("SN.db"), QStringLiteral("serialNB3")));
    folder.load();
    QCOMPARE(QByteArray(cameraSerials[3]), QByteArray("0"));
    const Rows rows = readRows(QStringLiteral("SN.db"));
    QCOMPARE(rows.size(), 8);
    QCOMPARE(rows.value("serialNB3"), QStringLiteral("0"));
}

void TestParamStorage::damagedSerialDatabaseIsReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("no sysparam table") << "other table";
    QTest::newRow("not a database") << "garbage";
    QTest::newRow("sysparam of other columns") << "wrong columns";
}

void TestParamStorage::damagedSerialDatabaseIsReplaced()
{
    QFETCH(QString, kind);
    ParamFolder folder(false);
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    if (kind == "empty") {
        QVERIFY(folder.dir.write(QStringLiteral("SN.db"), QByteArray()));
    } else if (kind == "other table") {
        QVERIFY(execSql(QStringLiteral("SN.db"), QStringLiteral("create table other (a text)")));
    } else if (kind == "garbage") {
        QVERIFY(folder.dir.write(QStringLiteral("SN.db"), QByteArray(4096, 'g')));
    } else if (kind == "wrong columns") {
        QVERIFY(execSql(QStringLiteral("SN.db"), QStringLiteral("create table sysparam (key text, val text)")));
        QVERIFY(execSql(QStringLiteral("SN.db"), QStringLiteral("insert into sysparam values('serialNB0', 'X')")));
    }
    folder.open();
    QCOMPARE(folder.warnings, QStringList{QStringLiteral("T160.0")});
    QVERIFY(folder.serialDb.isOpen());
    QVERIFY(folder.serialDb.tables().contains(QStringLiteral("sysparam")));
    QCOMPARE(QFileInfo::exists(QStringLiteral("SN.db.bad")), kind != "missing");

    QVERIFY(setRow(QStringLiteral("SN.db"), QStringLiteral("serialNB0"), QStringLiteral("DA1234567")));
    const SystemParam r = folder.load();
    QCOMPARE(r.snCount(), 1);
    QCOMPARE(QByteArray(cameraSerials[0]), QByteArray("DA1234567"));
}

void TestParamStorage::serialDatabaseWithoutFactoryCopyGetsItsTable()
{
    ParamFolder folder(false);
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    QVERIFY(QFile::remove(QStringLiteral("paraGroup/default/SN.db")));
    folder.open();
    QCOMPARE(folder.warnings.size(), 1);
    folder.load();
    const Rows rows = readRows(QStringLiteral("SN.db"));
    QCOMPARE(rows.size(), 8);
    QCOMPARE(rows.value("serialNB7"), QStringLiteral("0"));
}

void TestParamStorage::paramDatabaseFromFactory_data()
{
    QTest::addColumn<bool>("emptyFile");
    QTest::addColumn<bool>("factoryCopies");
    QTest::newRow("missing") << false << true;
    QTest::newRow("empty file") << true << true;
    QTest::newRow("missing, factory copy fails") << false << false;
    QTest::newRow("empty file, factory copy fails") << true << false;
}

void TestParamStorage::paramDatabaseFromFactory()
{
    QFETCH(bool, emptyFile);
    QFETCH(bool, factoryCopies);
    ParamFolder folder(false);
    QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
    if (emptyFile) {
        QVERIFY(folder.dir.write(QStringLiteral("PARAM.db"), QByteArray()));
    }
    if (!factoryCopies) {
        QVERIFY(QFile::rename(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("factory.db")));
    }
    const QString fileError = QStringLiteral("T160.0");
    folder.open();

    if (factoryCopies) {
        QCOMPARE(folder.warnings, QStringList{fileError});
        QCOMPARE(folder.rows().size(), 22);
        QCOMPARE(folder.load().exposeTime(0), factorySysParam().exposeTime(0));
        QVERIFY(QFileInfo(QStringLiteral("PARAM.db")).isWritable());
        return;
    }
    // Told, and no empty PARAM.db made that would hide the loss from the next start.
    QCOMPARE(folder.warnings, (QStringList{fileError, QStringLiteral("T628.0")}));
    QCOMPARE(folder.operationLog, QStringList{QStringLiteral("T628.0")});
    QCOMPARE(QFileInfo(QStringLiteral("PARAM.db")).size(), 0);
    QCOMPARE(QFileInfo::exists(QStringLiteral("PARAM.db")), emptyFile);
    QVERIFY(!folder.paramDb.isOpen());
    SystemParam r = folder.load();
    QCOMPARE(r.tempRecordMin(), 30);
    QVERIFY(!saveSysParam(&r));
    QCOMPARE(QFileInfo::exists(QStringLiteral("PARAM.db")), emptyFile);

    // The next start, with the factory file back, repairs it.
    folder.close();
    QVERIFY(QFile::rename(QStringLiteral("factory.db"), QStringLiteral("paraGroup/default/PARAM.db")));
    folder.open();
    QCOMPARE(folder.rows().size(), 22);
    r = folder.load();
    QVERIFY(saveSysParam(&r));
}

void TestParamStorage::paramDatabaseWithoutTableIsReportedAndKept_data()
{
    QTest::addColumn<QString>("create");
    QTest::newRow("no sysparam table") << "create table cammer1 (name text, value text)";
    QTest::newRow("sysparam of other columns") << "create table sysparam (key text, val text)";
}

void TestParamStorage::paramDatabaseWithoutTableIsReportedAndKept()
{
    QFETCH(QString, create);
    ParamFolder folder(false);
    QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
    QVERIFY(execSql(QStringLiteral("PARAM.db"), create));
    const QByteArray before = fileBytes(QStringLiteral("PARAM.db"));
    folder.open();
    QCOMPARE(folder.warnings, QStringList{QStringLiteral("T160.0")});
    // The loader falls back to the defaults; saving says it could not.
    SystemParam r = folder.load();
    QCOMPARE(folder.warnings.size(), 1);
    QCOMPARE(r.tempRecordMin(), 30);
    QVERIFY(!saveSysParam(&r));
    QCOMPARE(fileBytes(QStringLiteral("PARAM.db")), before);
}

void TestParamStorage::heldDatabaseIsWaitedForAndNeverReplaced_data()
{
    // A hold of -1 lasts until the test lets go, after the load has given up.
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<int>("boundMs");
    QTest::newRow("PARAM.db held shorter than the bound") << "PARAM.db" << 400 << 5000;
    QTest::newRow("PARAM.db held past the bound") << "PARAM.db" << -1 << 300;
    QTest::newRow("SN.db held shorter than the bound") << "SN.db" << 400 << 5000;
    QTest::newRow("SN.db held past the bound") << "SN.db" << -1 << 300;
}

// Another program holds PARAM.db or SN.db locked while the program starts and
// lets go meanwhile: the file is waited for, never taken for damaged, never
// replaced or moved aside, and never written with values it did not give.
void TestParamStorage::heldDatabaseIsWaitedForAndNeverReplaced()
{
    QFETCH(QString, file);
    QFETCH(int, holdMs);
    QFETCH(int, boundMs);
    const bool read = holdMs >= 0;
    const bool params = file == QLatin1String("PARAM.db");
    BusyBound bound(boundMs);
    ParamFolder folder(false);
    QFile::copy(QStringLiteral("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.db"));
    QFile::copy(QStringLiteral("paraGroup/default/SN.db"), QStringLiteral("SN.db"));
    QVERIFY(setRow(QStringLiteral("PARAM.db"), QStringLiteral("exposeTime"), QStringLiteral("77 30 30 30")));
    QVERIFY(setRow(QStringLiteral("SN.db"), QStringLiteral("serialNB0"), QStringLiteral("DA1234567")));
    const QByteArray before = fileBytes(file);

    DatabaseLocker locker;
    QVERIFY(locker.lock(file, holdMs));
    QElapsedTimer elapsed;
    elapsed.start();
    folder.open();
    SystemParam r = folder.load();
    if (!read) {
        // The open looks once, the load waits up to the bound.
        QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
    }
    const QString busyText = params ? QStringLiteral("T626.0") : QStringLiteral("T627.0");
    QCOMPARE(folder.warnings, read ? QStringList{} : QStringList{busyText});
    QCOMPARE(folder.operationLog, read ? QStringList{} : QStringList{busyText});
    if (params) {
        QCOMPARE(r.exposeTime(0) == 77, read);
        QCOMPARE(QByteArray(cameraSerials[0]), QByteArray("DA1234567"));
    } else {
        QCOMPARE(r.exposeTime(0), 77);
        QCOMPARE(r.snCount(), read ? 1 : 0);
        QCOMPARE(QByteArray(cameraSerials[0]), read ? QByteArray("DA1234567") : QByteArray());
    }
    QCOMPARE(sysParamLoaded(), read || !params);
    QCOMPARE(cameraSerialsLoaded(), read || params);
    // A record of fallback defaults is never saved over the stored values,
    // not even once the file is free again.
    r.exposeTime(1) = 55;
    QCOMPARE(saveSysParam(&r), read || !params);
    QVERIFY(read ? locker.waitReleased() : locker.release());
    if (!read && params) {
        QVERIFY(!saveSysParam(&r));
        QCOMPARE(fileBytes(file), before);
    }
    QVERIFY(!QFileInfo::exists(file + QStringLiteral(".bad")));
    QCOMPARE(readRows(QStringLiteral("SN.db")).value("serialNB0"), QStringLiteral("DA1234567"));
    QCOMPARE(readRows(QStringLiteral("SN.db")).size(), 8);
    QCOMPARE(readRows(QStringLiteral("PARAM.db")).size(), 22);

    // Free again, the next load reads the stored values and saving works.
    r = folder.load();
    QCOMPARE(r.exposeTime(0), 77);
    QCOMPARE(r.snCount(), 1);
    QVERIFY(saveSysParam(&r));
    QCOMPARE(folder.warnings.size(), read ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestParamStorage)
#include "tst_paramstorage.moc"
