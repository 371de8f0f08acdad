// Whole moulding cycles through the real main window: the simulated I/O board
// on a pseudo-terminal as "COM1", the simulated cameras replaying pictures of
// an open mould (empty, or with a part left in one cavity), the engine judging
// them against a template of the empty mould, the Modbus server read by
// libmodbus on 127.0.0.1, the operation log and the picture writer.

#include "boardframing.h"
#include "boardsimulator.h"
#include "cammerwidget.h"
#include "camerastation.h"
#include "clustomrect.h"
#include "detectalgorithm.h"
#include "globals.h"
#include "mouldpicture.h"
#include "savefialimagethread.h"
#include "windowrig.h"

#include <QDir>
#include <QSqlQuery>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <modbus.h>

namespace {

constexpr int kCavityDetect = 1;

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

QStringList recordRemarks()
{
    QStringList rows;
    QSqlQuery query(QSqlDatabase::database(QStringLiteral("dbRecord"), false));
    if (query.exec(QStringLiteral("select remarks from RECORD"))) {
        while (query.next()) {
            rows << query.value(0).toString();
        }
    }
    return rows;
}

// What the simulated cameras see (a part left in camera 1's view only): both bitmaps a camera alternates between
// hold the same picture, and the camera takes it as the machine's trigger
// line would make it (cameras is empty before the window has opened them).
void showMould(const cv::Mat (&pictures)[2][2], bool partLeft, const QList<CameraInterface*>& cameras = {})
{
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < 2; ++k) {
            const QString path = QStringLiteral("cammer%1/template%2.bmp").arg(10 * c + 15).arg(k);
            QVERIFY(cv::imwrite(path.toStdString(), pictures[c][partLeft && c == 0 ? 1 : 0]));
        }
    }
    for (CameraInterface* camera : cameras) {
        camera->softTrigger();
    }
}

} // namespace

class TestWindowCycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initTextTable(); }
    void emptyMouldThenPartLeft();
};

void TestWindowCycle::emptyMouldThenPartLeft()
{
    cv::Mat pictures[2][2];
    for (int c = 0; c < 2; ++c) {
        renderMouldPictures(mouldLayout(c), &pictures[c][0], &pictures[c][1]);
    }
    BoardSimulator board;
    WindowRig::Options options;
    options.startMachineLink = true;
    options.prepare = [&](TestWorkDir& dir) {
        QVERIFY(board.linkAs(dir.filePath(QStringLiteral("COM1"))));
        QDir().mkpath(QStringLiteral("cammer15"));
        QDir().mkpath(QStringLiteral("cammer25"));
        showMould(pictures, false);
    };
    WindowRig rig(0, {0},
                  [](SystemParam& p) {
                      p[120] = 1; // the cavity detect on the mould-open position
                      p[73] = 2;  // 0.2 s after it: the board sees the withdrawal first
                  },
                  options);
    VeZiRevoru& w = *rig.window;
    QCOMPARE(gCameraCount, 2);

    // The operator's setting: one defect area over the cavity where a part
    // can stay, the empty mould as the template.
    for (int c = 0; c < 2; ++c) {
        CameraStation& st = w.pCammer[c]->station();
        const MouldLayout layout = mouldLayout(c);
        const cv::Rect r = layout.cavities[size_t(layout.partCavity)];
        auto* shape = new ClustomRect(r.x, r.y, r.x + r.width - 1, r.y + r.height - 1);
        shape->updateBounds();
        CammerSingleton& live = *st.pLiveSingleton;
        const int slot = kCavityDetect * AreasPerDetect;
        live.roiLists[kCavityDetect].append(shape);
        live.roiCount[kCavityDetect] = 1;
        live.roiFunction[slot] = FuncDefect;
        live.roiShapeType[slot] = shape->type();
        st.data.roiMasks[slot] = shape->createMask();
        QVERIFY(st.StoreTemplate(kCavityDetect, 1, pictures[c][0].data));
        st.pDetector->TrainModels(kCavityDetect);
    }

    auto clampBits = [&](int fromFrame) {
        QString bits;
        const int rest = gpSystemParam->outInitState(OutAllowClamp) != 0 ? 1 : 0;
        const QVector<BoardSimulator::HostFrame> frames = board.frames();
        for (int i = fromFrame; i < frames.size(); ++i) {
            if (frames[i].command() == CmdSetOutputs) {
                // '1': the machine may not close the mould.
                bits += (((frames[i].value() >> OutAllowClamp) & 1) != rest) ? '1' : '0';
            }
        }
        return bits;
    };
    auto pulseInput = [&](int bit) {
        // The position is held longer than the input filter (0.1 s here).
        board.setInput(bit, true);
        QTest::qWait(gpSystemParam->debounceMs() + 200);
        board.setInput(bit, false);
        QTest::qWait(600);
    };
    auto alarmOn = [&] {
        const int rest = gpSystemParam->outInitState(OutAlarm) != 0 ? 1 : 0;
        return ((board.lastOutputValue() >> OutAlarm) & 1) != rest;
    };

    // Empty mould: the clamp is withdrawn at the cycle start, then granted.
    showMould(pictures, false, w.openedCameras);
    int from = board.frameCount();
    pulseInput(InMouldOpenEnd);
    QTRY_VERIFY_WITH_TIMEOUT(clampBits(from).contains(QLatin1String("10")), 5000);
    QVERIFY2(clampBits(from).endsWith('0'), qPrintable(clampBits(from)));
    QVERIFY(!alarmOn());

    // Part left: no later frame grants; alarm; register 1 = 2; log line;
    // "count.txt".
    showMould(pictures, true, w.openedCameras);
    from = board.frameCount();
    pulseInput(InMouldOpenEnd);
    QTRY_VERIFY_WITH_TIMEOUT(alarmOn(), 5000);
    QTest::qWait(200);
    const QString afterPart = clampBits(from);
    QVERIFY2(afterPart.contains('1') && !afterPart.mid(afterPart.indexOf('1')).contains('0'), qPrintable(afterPart));
    QCOMPARE(readRegister(w.pModbusServer->serverPort(), 1), 2);
    QTRY_VERIFY2(recordRemarks().contains(textOf(151).arg(1).chopped(1) + textOf(152)),
                 qPrintable(recordRemarks().join('|')));
    QVERIFY(QFileInfo::exists(QStringLiteral("count.txt")));

    // The door with the part still there changes nothing.
    from = board.frameCount();
    pulseInput(InSafetyDoor);
    QVERIFY(alarmOn());
    QVERIFY2(!clampBits(from).contains('0'), qPrintable(clampBits(from)));

    // Mould cleared, door again: granted, alarm off, the NG picture with its
    // area prefix and a second or more later the OK re-check picture.
    showMould(pictures, false, w.openedCameras);
    from = board.frameCount();
    pulseInput(InSafetyDoor);
    QTRY_VERIFY_WITH_TIMEOUT(clampBits(from).endsWith('0'), 5000);
    QTRY_VERIFY(!alarmOn());
    QCOMPARE(readRegister(w.pModbusServer->serverPort(), 1), 0);
    const QString ngFolder = SaveFialImageThread::folderOf(0, kCavityDetect, 0);
    QTRY_COMPARE_WITH_TIMEOUT(QDir(ngFolder).entryList({QStringLiteral("*.jpg")}).size(), 2, 5000);
    const QFileInfoList files =
        QDir(ngFolder).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Time | QDir::Reversed);
    QVERIFY(files[0].fileName().startsWith(QLatin1String("1_")));
    QVERIFY(files[1].fileName().startsWith(QLatin1String("1_")));
    QVERIFY(files[0].lastModified().msecsTo(files[1].lastModified()) >= 900);
    // Camera 2 saw no part: no NG picture of it.
    QVERIFY(QDir(SaveFialImageThread::folderOf(1, kCavityDetect, 0)).entryList({QStringLiteral("*.jpg")}).isEmpty());
}

QTEST_MAIN(TestWindowCycle)
#include "tst_windowcycle.moc"
