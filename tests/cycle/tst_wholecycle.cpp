// Whole moulding cycles on their own timers: the simulated I/O board on a
// pseudo-terminal as "COM1" behind the real I/O thread, the Modbus server read
// by libmodbus on 127.0.0.1, the operation log, the picture writer, and two
// simulated cameras whose mould is empty or holds a part left behind.

#include "cyclecontroller.h"

#include "boardframing.h"
#include "boardsimulator.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "clustomrect.h"
#include "controlport.h"
#include "failimagecomposer.h"
#include "failimageslots.h"
#include "fakecamera.h"
#include "globals.h"
#include "iothread.h"
#include "modbusserver.h"
#include "operationlog.h"
#include "processstate.h"
#include "productioncounters.h"
#include "savefialimagethread.h"
#include "systemparam.h"
#include "testworkdir.h"
#include "texttable.h"
#include "settle.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <modbus.h>

#include <atomic>
#include <cstring>
#include <memory>

namespace {

struct Host : CycleHost {
    OperationLog* log = nullptr;
    ModbusServer* server = nullptr;
    CycleController* ctl = nullptr;

    void insertRecord(const QString& text) override { log->insertRecord(text, 0); }
    void setReadData(int reg, int value) override { server->setReadData(reg, quint16(value)); }
    bool countWrite() override { return writeCountFile(); }
    void saveFailImage(int c, int d, int kind) override
    {
        FailImageComposer::SaveFailImage(*ctl->stations[size_t(c)], d, kind, ctl->doorTrigger != 0);
    }
    void updateFailImage(int c, int d, int kind, int state) override
    {
        FailImageComposer::UpdateFailImage(*ctl->stations[size_t(c)], d, kind, state);
    }
};

int readRegister(quint16 port, int reg)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 2, 0);
    int value = -1;
    if (modbus_connect(ctx) == 0) {
        uint16_t r = 0;
        if (modbus_read_registers(ctx, reg, 1, &r) == 1) {
            value = r;
        }
        modbus_close(ctx);
    }
    modbus_free(ctx);
    return value;
}

} // namespace

class TestWholeCycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void emptyMouldThenPartLeft();
};

void TestWholeCycle::emptyMouldThenPartLeft()
{
    ProcessState state;
    TestWorkDir dir;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
    db.setDatabaseName(dir.filePath("PARAM.db"));
    QVERIFY(db.open());
    for (int c = 0; c < 8; ++c) {
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("create table cammer%1 (name text, value text)").arg(c)));
    }

    SystemParam params{};
    std::memset(&params, 0, sizeof params);
    params[120] = 1; // cavity detect on the mould-open position
    params[73] = 2;  // 0.2 s after it: the board sees the withdrawal first
    gpSystemParam = &params;
    gpSystemParamEdit = &params;
    gDetectCount = 2;
    gTemplateCount = 1;
    gColorMode = 0;
    gMaxNgImages = 5;
    gMaxOkImages = 5;
    gStatisticsEnabled = 0;
    gRunPassCount = 0;
    gSamplingReview = 0;
    gRetrainPending = 0;
    clearCounters();

    BoardSimulator board;
    QVERIFY(board.linkAs(dir.filePath(QStringLiteral("COM1"))));
    auto* port = new ControlPort(0);
    gpControlPort = port;
    port->startIOThread();
    port->feedWatchdog();

    ModbusServer server(0, QHostAddress::LocalHost);
    QVERIFY(server.isListening());
    OperationLog log;
    log.start();

    std::vector<std::unique_ptr<FakeCamera>> cameras;
    std::vector<std::unique_ptr<CameraStation>> stations;
    std::vector<QSize> sizes;
    for (int c = 0; c < 2; ++c) {
        cameras.push_back(std::make_unique<FakeCamera>(96, 64));
        cameras.back()->open();
        stations.push_back(std::make_unique<CameraStation>(c, cameras.back().get()));
        CammerSingleton& set = *stations.back()->pLiveSingleton;
        auto* shape = new ClustomRect(10, 10, 40, 40);
        shape->updateBounds();
        set.roiLists[1].append(shape);
        set.roiCount[1] = 1;
        set.roiFunction[50] = FuncSpot;
        sizes.push_back(QSize(96, 64));
    }
    gCameraCount = 2;
    FailImageSlots::allocate(sizes, gDetectCount);
    SaveFialImageThread::makeFolders(2);
    SaveFialImageThread writer;
    writer.cameraCount = 2;
    writer.detectCount = 2;
    writer.startWriting();

    Host host;
    host.log = &log;
    host.server = &server;
    CycleController ctl(port, &host);
    ctl.setWorkers(1); // the simulated verdicts count on the GUI thread
    host.ctl = &ctl;
    for (auto& st : stations) {
        ctl.stations.push_back(st.get());
    }
    // The simulated cameras: camera 1 sees a part in its area or not.
    std::atomic<bool> partLeft{false};
    int inspections = 0;
    ctl.inspect = [&](CameraStation& st, int d) {
        ++inspections;
        const bool ng = partLeft && st.data.cameraIndex == 0;
        st.data.resultOk = ng ? 0 : 1;
        st.data.areaOk = ng ? 0 : 1;
        st.data.roiOk[d * 50] = ng ? 0 : 1;
        st.data.roiValue[d * 50] = ng ? 900 : 3;
    };
    QObject::connect(port->ioThread(), &IOThread::sigIOChange, &ctl, &CycleController::Run, Qt::QueuedConnection);
    ctl.StartDetect();
    ctl.manualTrigDetect = gDetectCount;
    ctl.curDetect = 1;
    ctl.runTimer->start(5);

    auto clampBits = [&](int fromFrame) {
        QString bits;
        const QVector<BoardSimulator::HostFrame> frames = board.frames();
        for (int i = fromFrame; i < frames.size(); ++i) {
            if (frames[i].command() == CmdSetOutputs) {
                bits += (frames[i].value() & 1) ? '1' : '0';
            }
        }
        return bits;
    };
    auto pulseInput = [&](int bit, int evaluationsBefore) {
        board.setInput(bit, true);
        const bool seen = QTest::qWaitFor([&] { return inspections >= evaluationsBefore + 2; }, kSettleMs);
        QTest::qWait(20);
        board.setInput(bit, false);
        QTest::qWait(150);
        return seen;
    };

    // Empty mould: the clamp is withdrawn at the cycle start, then granted.
    int from = board.frameCount();
    QVERIFY(pulseInput(InMouldOpenEnd, inspections));
    QVERIFY(QTest::qWaitFor([&] { return clampBits(from).contains(QLatin1String("10")); }, kSettleMs));
    QVERIFY2(clampBits(from).endsWith('0'), qPrintable(clampBits(from)));
    ctl.TimerShow();

    // Part left: no later frame grants; alarm; register 1 = 2; log line;
    // "count.txt".
    partLeft = true;
    from = board.frameCount();
    QVERIFY(pulseInput(InMouldOpenEnd, inspections));
    QTRY_COMPARE_WITH_TIMEOUT(ctl.screenMode(), Alarm, kSettleMs);
    QTest::qWait(200);
    QVERIFY(clampBits(from).contains('1'));
    QVERIFY2(!clampBits(from).mid(clampBits(from).indexOf('1')).contains('0'), qPrintable(clampBits(from)));
    QVERIFY(board.lastOutputValue() & (1 << OutAlarm));
    QCOMPARE(readRegister(server.serverPort(), 1), 2);
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("dbRecord")));
        QVERIFY(query.exec(QStringLiteral("select remarks from RECORD")));
        QStringList rows;
        while (query.next()) {
            rows << query.value(0).toString();
        }
        QVERIFY2(rows.contains(textOf(151).arg(1).chopped(1) + textOf(152)), qPrintable(rows.join('|')));
    }
    QCOMPARE(dir.read(QStringLiteral("count.txt")), QByteArray("2 1 2 0 0 0 0 0 0 0 0 0 0 0 0 0 2 1 "));

    // The door with the part still there changes nothing.
    from = board.frameCount();
    QVERIFY(pulseInput(InSafetyDoor, inspections));
    QCOMPARE(ctl.screenMode(), Alarm);
    QVERIFY(!clampBits(from).contains('0'));

    // Mould cleared, door again: granted, alarm off, the NG picture with its
    // note and a second or more later the OK re-check picture.
    partLeft = false;
    from = board.frameCount();
    QVERIFY(pulseInput(InSafetyDoor, inspections));
    QTRY_VERIFY_WITH_TIMEOUT(ctl.screenMode() != Alarm, kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(clampBits(from).endsWith('0'), kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(!(board.lastOutputValue() & (1 << OutAlarm)), kSettleMs);
    QCOMPARE(readRegister(server.serverPort(), 1), 0);
    const QString ngFolder = SaveFialImageThread::folderOf(0, 1, 0);
    QTRY_COMPARE_WITH_TIMEOUT(QDir(ngFolder).entryList({QStringLiteral("*.jpg")}).size(), 2, kSettleMs);
    const QFileInfoList files =
        QDir(ngFolder).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Time | QDir::Reversed);
    QVERIFY(files[0].fileName().startsWith(QLatin1String("1_")));
    QVERIFY(files[1].fileName().startsWith(QLatin1String("1_")));
    QVERIFY(files[0].lastModified().msecsTo(files[1].lastModified()) >= 900);

    writer.stopWriting();
    ctl.runTimer->stop();
    port->shutdown();
    delete port;
    gpControlPort = nullptr;
    FailImageSlots::release();
}

QTEST_MAIN(TestWholeCycle)
#include "tst_wholecycle.moc"
