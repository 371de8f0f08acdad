// What the plant's writes do: the main window's register map read by a real
// client, clearing the counters through register 0, and switching the
// parameter group through register 1 (refused for a bad group, done in full
// order for a good one).
#include "modbusdatachange.h"
#include "paragroupstore.h"
#include "cameraregistry.h"
#include "modbusserver.h"
#include "operationlog.h"
#include "logcapture.h"
#include "paramsetfixture.h"
#include "platformhelpers.h"
#include "processstate.h"
#include "productioncounters.h"
#include "recordingsystemcommands.h"
#include "systemparam.h"
#include "sqlitetestutil.h"
#include "testworkdir.h"
#include "texttable.h"
#include "camerainterface.h"
#include "vezirevoru.h"
#include "settle.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QtTest>

#include <mutex>

#include <modbus.h>

#include <memory>

namespace {

using Rows = QList<QStringList>;

Rows recordRows()
{
    return sqliteRows("RECORD.db", "SELECT recordtime, recordpassword, remarks FROM RECORD ORDER BY rowid");
}

QStringList remarks()
{
    QStringList out;
    for (const QStringList& row : recordRows()) {
        out.append(row.at(2));
    }
    return out;
}

struct Client {
    explicit Client(quint16 port)
        : ctx(modbus_new_tcp("127.0.0.1", port))
    {
        modbus_set_slave(ctx, 1);
        modbus_set_response_timeout(ctx, 2, 0);
        connected = modbus_connect(ctx) == 0;
    }
    ~Client()
    {
        modbus_close(ctx);
        modbus_free(ctx);
    }
    QVector<quint16> read(int start, int count)
    {
        QVector<quint16> r(count);
        if (modbus_read_registers(ctx, start, count, r.data()) != count) {
            return {};
        }
        return r;
    }
    bool write(int start, const QVector<quint16>& values)
    {
        return modbus_write_registers(ctx, start, values.size(), values.constData()) == values.size();
    }
    modbus_t* ctx;
    bool connected = false;
};

} // namespace

class TestModbusDataChange : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void registerMapReadByClient();
    void writingZeroToRegisterZeroClearsTheCounters();
    void sameGroupOnlyLogs();
    void groupOutOfRangeIsRefused();
    void incompleteGroupLeavesCameraFoldersUntouched();
    void switchRefusedDuringAnotherGroupOperation();
    void clearThenSwitchInOneWrite();

private:
    void startWindow();

    std::unique_ptr<ProcessState> state;
    SystemParam params;
    TestWorkDir* dir = nullptr;
    RecordingSystemCommands* sys = nullptr;
    VeZiRevoru* window = nullptr;
    SystemParam* ownParams = nullptr;
    SystemParam* ownEditParams = nullptr;
};

void TestModbusDataChange::initTestCase()
{
    QLoggingCategory::setFilterRules("default.debug=false");
}

void TestModbusDataChange::init()
{
    state = std::make_unique<ProcessState>();
    initTextTable();
    params = SystemParam{};
    gpSystemParam = &params;
    dir = new TestWorkDir;
    sys = new RecordingSystemCommands;
    clearCounters();
}

void TestModbusDataChange::cleanup()
{
    runQuitHooks();
    if (window) {
        const QList<CameraInterface*> cameras = window->openedCameras;
        delete window->pModbusServer;
        delete window;
        window = nullptr;
        qDeleteAll(cameras);
        // What the program keeps for its whole life, a test gives back.
        delete ownParams;
        delete ownEditParams;
        delete gpControlPort;
        delete gpResultStatistics;
    }
    delete sys;
    delete dir;
    state.reset();
}

void TestModbusDataChange::startWindow()
{
    // The window reads its own parameters and counters while it is built;
    // this test's take their place afterwards and are published again.
    const qint64 totalCycles = gTotalCycles;
    const qint64 ngCycles = gNgCycles;
    QVector<qint64> total(8), ng(8);
    for (int c = 0; c < 8; ++c) {
        total[c] = gTotalCount[c];
        ng[c] = gNgCount[c];
    }
    window = new VeZiRevoru(nullptr, 0, QHostAddress::LocalHost);
    ownParams = gpSystemParam;
    ownEditParams = gpSystemParamEdit;
    gpSystemParam = &params;
    gTotalCycles = totalCycles;
    gNgCycles = ngCycles;
    for (int c = 0; c < 8; ++c) {
        gTotalCount[c] = total[c];
        gNgCount[c] = ng[c];
    }
    gCameraCount = 2;
    gDetectCount = 2;
    window->StartModbusServer(0, QHostAddress::LocalHost);
    QVERIFY(window->pModbusServer->isListening());
}

void TestModbusDataChange::registerMapReadByClient()
{
    params.paraGroupIndex() = 0x10003;  // only the low 16 bits are published
    gTotalCycles = 70000;
    gNgCycles = 3;
    gTotalCount[0] = 10;
    gNgCount[0] = 1;
    gTotalCount[1] = 0x12345;
    gNgCount[1] = 0x10000;
    gTotalCount[2] = 99;  // a camera that does not exist
    startWindow();
    window->AppendCycleValue(-5);
    window->AppendCycleValue(70000);
    window->PublishCycleValues();

    Client client(window->pModbusServer->serverPort());
    QVERIFY(client.connected);
    QCOMPARE(client.read(0, 3), (QVector<quint16>{1, 0, 3}));
    QCOMPARE(client.read(50, 6), (QVector<quint16>{0x0001, 0x1170, 0, 3, 0x0001, 0x116D}));
    QCOMPARE(client.read(56, 6), (QVector<quint16>{0, 10, 0, 1, 0, 9}));
    QCOMPARE(client.read(62, 6), (QVector<quint16>{0x0001, 0x2345, 0x0001, 0x0000, 0x0000, 0x2345}));
    QCOMPARE(client.read(68, 6), QVector<quint16>(6, 0));
    QCOMPARE(client.read(200, 6), (QVector<quint16>{0xFFFF, 0xFFFB, 0x0001, 0x1170, 0, 0}));
}

void TestModbusDataChange::writingZeroToRegisterZeroClearsTheCounters()
{
    gTotalCycles = 12;
    gNgCycles = 2;
    gTotalCount[1] = 12;
    gNgCount[1] = 2;
    startWindow();
    Client client(window->pModbusServer->serverPort());
    QVERIFY(client.connected);
    QCOMPARE(client.read(50, 2), (QVector<quint16>{0, 12}));

    QVERIFY(client.write(0, {0}));
    QTRY_COMPARE_WITH_TIMEOUT(dir->read("count.txt"), QByteArray("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 "), kSettleMs);
    QCOMPARE(gTotalCycles, 0);
    QCOMPARE(gNgCount[1], 0);
    QCOMPARE(client.read(50, 18), QVector<quint16>(18, 0));
    QCOMPARE(remarks().last(), QString("检测计数已被清零"));
    QVERIFY(sys->operations.isEmpty());
}

void TestModbusDataChange::sameGroupOnlyLogs()
{
    params.paraGroupIndex() = 2;
    makeSet(*dir, "", "working", 2, 2);
    for (const char* g : {"a", "b", "c"}) {
        makeSet(*dir, QString("paraGroup/") + g, g, 2, 2);
    }
    startWindow();
    const Rows before = recordRows();
    const QMap<QString, QByteArray> files = workingFiles(*dir);
    LogCapture log;
    // Start-up may pause (a day archived before 08:00); the write must not.
    const int sleepsBefore = sys->sleeps.size();
    Client client(window->pModbusServer->serverPort());
    QVERIFY(client.write(1, {2}));
    QTRY_VERIFY_WITH_TIMEOUT(log.lines().contains("paramgroup index is same , index is 2"), kSettleMs);
    QTest::qWait(50);
    QCOMPARE(recordRows(), before);
    QCOMPARE(workingFiles(*dir), files);
    QCOMPARE(sys->sleeps.size(), sleepsBefore);
    QVERIFY(sys->operations.isEmpty());
}

void TestModbusDataChange::groupOutOfRangeIsRefused()
{
    makeSet(*dir, "", "working", 2, 2);
    for (const char* g : {"a", "b", "c"}) {
        makeSet(*dir, QString("paraGroup/") + g, g, 2, 2);
    }
    startWindow();
    const QMap<QString, QByteArray> files = workingFiles(*dir);
    const int sleepsBefore = sys->sleeps.size();
    Client client(window->pModbusServer->serverPort());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("switch to parameter group 3 refused: there are 3 groups"));
    QVERIFY(client.write(1, {3}));
    QTRY_COMPARE_WITH_TIMEOUT(remarks().last(), QString("Modbus切换参数组3失败，当前参数组未改变"), kSettleMs);
    QCOMPARE(params.paraGroupIndex(), 0);
    QCOMPARE(workingFiles(*dir), files);
    QCOMPARE(sys->sleeps.size(), sleepsBefore);
    QVERIFY(sys->operations.isEmpty());
}

void TestModbusDataChange::incompleteGroupLeavesCameraFoldersUntouched()
{
    makeSet(*dir, "", "working", 2, 2);
    makeSet(*dir, "paraGroup/a", "a", 2, 2);
    makeSet(*dir, "paraGroup/b", "b", 1, 2);  // backed up when there was one camera
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused: group \"b\" has no folder cammer21"));
    const QMap<QString, QByteArray> files = workingFiles(*dir);

    QStringList calls;
    ModbusDataChange::Host host;
    host.insertRecord = [&](const QString& s) { calls.append("record " + s); };
    host.saveParaGroupIndex = [&](SystemParam*) { calls.append("save"); return true; };
    host.closeDatabases = [&] { calls.append("close"); };
    host.quitEventLoop = [&] { calls.append("quit"); };
    host.cameraCount = 2;
    host.detectCount = 2;
    QVERIFY(!ModbusDataChange(nullptr, host).switchParaGroup(1));
    QCOMPARE(calls, QStringList{"record Modbus切换参数组1失败，当前参数组未改变"});
    QCOMPARE(workingFiles(*dir), files);
    QCOMPARE(params.paraGroupIndex(), 0);
    QVERIFY(sys->operations.isEmpty());
}

void TestModbusDataChange::switchRefusedDuringAnotherGroupOperation()
{
    makeSet(*dir, "", "working", 2, 2);
    makeSet(*dir, "paraGroup/a", "a", 2, 2);
    makeSet(*dir, "paraGroup/b", "b", 2, 2);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused: another group operation is running"));
    const QMap<QString, QByteArray> files = workingFiles(*dir);
    QStringList calls;
    ModbusDataChange::Host host;
    host.insertRecord = [&](const QString& s) { calls.append("record " + s); };
    host.cameraCount = 2;
    host.detectCount = 2;
    // A backup on the settings page holds the groups.
    ParaGroupStore::Operation backup;
    QVERIFY(backup.acquired());
    QVERIFY(!ModbusDataChange(nullptr, host).switchParaGroup(1));
    QCOMPARE(calls, QStringList{"record Modbus切换参数组1失败，当前参数组未改变"});
    QCOMPARE(workingFiles(*dir), files);
    QVERIFY(sys->operations.isEmpty());
}

void TestModbusDataChange::clearThenSwitchInOneWrite()
{
    makeSet(*dir, "", "working", 2, 2);
    for (int g = 0; g < 6; ++g) {
        makeSet(*dir, QString("paraGroup/g%1").arg(g), QString("g%1").arg(g), 2, 2);
    }
    gTotalCycles = 8;
    ModbusServer server(0, QHostAddress::LocalHost);

    QStringList calls;
    ModbusDataChange::Host host;
    host.insertRecord = [&](const QString& s) { calls.append("record " + s); };
    host.publishCounters = [&] { calls.append(QString("publish %1").arg(gTotalCycles)); };
    host.countWrite = [&] { calls.append("count"); };
    host.saveParaGroupIndex = [&](SystemParam* p) {
        // Saved last: the group's files are in place by now.
        calls.append(QString("save %1 over %2").arg((*p)[340]).arg(originOf("PARAM.db")));
        return true;
    };
    host.closeDatabases = [&] { calls.append("close"); };
    host.quitEventLoop = [&] { calls.append("quit"); };
    host.cameraCount = 2;
    host.detectCount = 2;
    addQuitHook("test worker", [&] { calls.append("workers stopped"); });

    QList<QList<int>> signalled;
    connect(&server, &ModbusServer::sigWriteChange, this, [&](QList<int> indexes) {
        signalled.append(indexes);
        ModbusDataChange(&server, host).handle(indexes);
    });
    Client client(server.serverPort());
    QVERIFY(client.write(0, {1, 5}));
    QTRY_COMPARE_WITH_TIMEOUT(signalled, (QList<QList<int>>{{0, 1}}), kSettleMs);

    QCOMPARE(calls, (QStringList{"publish 0", "record 检测计数已被清零", "count", "save 5 over g5",
                                 "record 参数组还原为g5", "close", "workers stopped", "quit"}));
    QCOMPARE(params.paraGroupIndex(), 5);
    QCOMPARE(dir->read("cammer22/template1.bmp"), QByteArray("g5 22"));
    QCOMPARE(sys->trace, (QStringList{"sleep: 500", "sleep: 3000", "do: restart program"}));
}

QTEST_MAIN(TestModbusDataChange)
#include "tst_modbusdatachange.moc"
