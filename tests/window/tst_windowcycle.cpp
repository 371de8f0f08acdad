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
#include "colorbutton.h"
#include "drawroiwidget.h"
#include "detectalgorithm.h"
#include "globals.h"
#include "helpwidget.h"
#include "mouldpicture.h"
#include "savefialimagethread.h"
#include "windowrig.h"
#include "settle.h"

#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace {

constexpr int kCavityDetect = 1;

cv::Mat gPictures[2][2];  // per camera: the empty mould, a part left

// The main window on the simulated board and cameras, with the operator's
// setting made: one defect area over the cavity where a part can stay, the
// empty mould as the template.
struct CycleRig {
    BoardSimulator board;
    std::unique_ptr<WindowRig> rig;
    VeZiRevoru* w = nullptr;

    explicit CycleRig(const std::function<void(SystemParam&)>& more = {})
    {
        WindowRig::Options options;
        options.startMachineLink = true;
        options.prepare = [this](TestWorkDir& dir) {
            QVERIFY(board.linkAs(dir.filePath(QStringLiteral("COM1"))));
            QDir().mkpath(QStringLiteral("cammer15"));
            QDir().mkpath(QStringLiteral("cammer25"));
            showMould(false);
        };
        rig = std::make_unique<WindowRig>(0, QList<int>{1},
                                          [more](SystemParam& p) {
                                              p[120] = 1; // the cavity detect on the mould-open position
                                              p[73] = 2;  // 0.2 s after it: the board sees the withdrawal first
                                              p[161] = p[162] = 0; // the panel's commands ask no password
                                              if (more) {
                                                  more(p);
                                              }
                                          },
                                          options);
        w = rig->window.get();
        for (int c = 0; c < 2; ++c) {
            CameraStation& st = w->pCammer[c]->station();
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
            QVERIFY(st.StoreTemplate(kCavityDetect, 1, gPictures[c][0].data));
            st.pDetector->TrainModels(kCavityDetect);
        }
    }

    // What the simulated cameras see (a part left in camera 1's view only):
    // both bitmaps a camera alternates between hold the same picture, and
    // once the window runs the cameras take it as the machine's trigger line
    // would make them.
    void showMould(bool partLeft)
    {
        for (int c = 0; c < 2; ++c) {
            for (int k = 0; k < 2; ++k) {
                const QString path = QStringLiteral("cammer%1/template%2.bmp").arg(10 * c + 15).arg(k);
                QVERIFY(cv::imwrite(path.toStdString(), gPictures[c][partLeft && c == 0 ? 1 : 0]));
            }
        }
        if (w) {
            for (CameraInterface* camera : w->openedCameras) {
                camera->softTrigger();
            }
            QTest::qWait(300);  // a main-loop pass takes the frames in
        }
    }

    // The clamp of every command 1 from the given frame on: '1' where the
    // machine may not close the mould.
    QString clampBits(int fromFrame) const
    {
        QString bits;
        const int rest = gpSystemParam->outInitState(OutAllowClamp) != 0 ? 1 : 0;
        const QVector<BoardSimulator::HostFrame> frames = board.frames();
        for (int i = fromFrame; i < frames.size(); ++i) {
            if (frames[i].command() == CmdSetOutputs) {
                bits += (((frames[i].value() >> OutAllowClamp) & 1) != rest) ? '1' : '0';
            }
        }
        return bits;
    }

    // A position held longer than the input filter (0.1 s here).
    void pulseInput(int bit)
    {
        board.setInput(bit, true);
        QTest::qWait(gpSystemParam->debounceMs() + 200);
        board.setInput(bit, false);
        QTest::qWait(600);
    }

    bool alarmOn() const
    {
        const int rest = gpSystemParam->outInitState(OutAlarm) != 0 ? 1 : 0;
        return ((board.lastOutputValue() >> OutAlarm) & 1) != rest;
    }
};

} // namespace

class TestWindowCycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyMouldThenPartLeft();
    void panelCommandsAfterAnAlarm_data();
    void panelCommandsAfterAnAlarm();
};

void TestWindowCycle::initTestCase()
{
    initTextTable();
    for (int c = 0; c < 2; ++c) {
        renderMouldPictures(mouldLayout(c), &gPictures[c][0], &gPictures[c][1]);
    }
}

void TestWindowCycle::emptyMouldThenPartLeft()
{
    CycleRig r;
    VeZiRevoru& w = *r.w;
    QCOMPARE(gCameraCount, 2);

    // Empty mould: the clamp is withdrawn at the cycle start, then granted.
    r.showMould(false);
    int from = r.board.frameCount();
    r.pulseInput(InMouldOpenEnd);
    QTRY_VERIFY_WITH_TIMEOUT(r.clampBits(from).contains(QLatin1String("10")), kSettleMs);
    QVERIFY2(r.clampBits(from).endsWith('0'), qPrintable(r.clampBits(from)));
    QVERIFY(!r.alarmOn());

    // Part left: no later frame grants; alarm; register 1 = 2; log line;
    // "count.txt"; the help page the operator left open over area setting
    // gives way to the alarm review.
    w.state().setUserLevel(UserOperator);
    w.SlotAdjustArea();
    QCOMPARE(w.state().screenMode(), AreaSetting);
    w.pDrawROIWidget->pCButtonHelp->click();
    QVERIFY(!w.pHelpWidget->isHidden());
    r.showMould(true);
    from = r.board.frameCount();
    r.pulseInput(InMouldOpenEnd);
    QTRY_VERIFY_WITH_TIMEOUT(r.alarmOn(), kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(w.pHelpWidget->isHidden(), kSettleMs);
    QTest::qWait(200);
    const QString afterPart = r.clampBits(from);
    QVERIFY2(afterPart.contains('1') && !afterPart.mid(afterPart.indexOf('1')).contains('0'), qPrintable(afterPart));
    QCOMPARE(readRegisters(w.pModbusServer->serverPort(), 1, 1), QVector<quint16>{2});
    QTRY_VERIFY2_WITH_TIMEOUT(recordRemarks().contains(textOf(151).arg(1).chopped(1) + textOf(152)),
                 qPrintable(recordRemarks().join('|')), kSettleMs);
    QVERIFY(QFileInfo::exists(QStringLiteral("count.txt")));

    // The door with the part still there changes nothing but the alarm
    // output, which opening the door silences: the alarm stands.
    from = r.board.frameCount();
    r.pulseInput(InSafetyDoor);
    QCOMPARE(readRegisters(w.pModbusServer->serverPort(), 1, 1), QVector<quint16>{2});
    QVERIFY2(!r.clampBits(from).contains('0'), qPrintable(r.clampBits(from)));

    // Mould cleared, door again: granted, alarm off, the NG picture with its
    // area prefix and a second or more later the OK re-check picture.
    r.showMould(false);
    from = r.board.frameCount();
    r.pulseInput(InSafetyDoor);
    QTRY_VERIFY_WITH_TIMEOUT(r.clampBits(from).endsWith('0'), kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(!r.alarmOn(), kSettleMs);
    QCOMPARE(readRegisters(w.pModbusServer->serverPort(), 1, 1), QVector<quint16>{0});
    const QString ngFolder = SaveFialImageThread::folderOf(0, kCavityDetect, 0);
    QTRY_COMPARE_WITH_TIMEOUT(QDir(ngFolder).entryList({QStringLiteral("*.jpg")}).size(), 2, kSettleMs);
    const QFileInfoList files =
        QDir(ngFolder).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Time | QDir::Reversed);
    QVERIFY(files[0].fileName().startsWith(QLatin1String("1_")));
    QVERIFY(files[1].fileName().startsWith(QLatin1String("1_")));
    QVERIFY(files[0].lastModified().msecsTo(files[1].lastModified()) >= 900);
    // Camera 2 saw no part: no NG picture of it.
    QVERIFY(QDir(SaveFialImageThread::folderOf(1, kCavityDetect, 0)).entryList({QStringLiteral("*.jpg")}).isEmpty());
}

enum PanelCommand { ReCheck, NotThisMouldOne, NotThisMouldAll, AddAsTemplate };

// What happens while the password box is open.
enum UnderTheBox { Nothing, OtherCameraShown };

// Samples in the cavity detect's library of both cameras.
int cavitySamples(VeZiRevoru& w)
{
    int n = 0;
    for (int c = 0; c < 2; ++c) {
        n += w.pCammer[c]->station().data.templateCount[kCavityDetect];
    }
    return n;
}

void TestWindowCycle::panelCommandsAfterAnAlarm_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("partRemoved");
    QTest::addColumn<int>("doorRule");
    // The command's own password (161 or 162) on, with general protection
    // off: the password box asks, and gets these entries one by one (the box
    // is cancelled when none is left).
    QTest::addColumn<int>("password");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("underTheBox");
    QTest::addColumn<bool>("granted");
    const QStringList none;
    const QStringList right{QStringLiteral("5826")};
    const QStringList wrong{QStringLiteral("1234")};
    const QStringList operatorPassword{QStringLiteral("4711")};
    QTest::newRow("re-check, part still there") << int(ReCheck) << false << 0 << 0 << none << 0 << false;
    QTest::newRow("re-check, part removed") << int(ReCheck) << true << 0 << 0 << none << 0 << true;
    QTest::newRow("not this mould, camera 1") << int(NotThisMouldOne) << false << 0 << 0 << none << 0 << true;
    QTest::newRow("not this mould, all cameras") << int(NotThisMouldAll) << false << 0 << 0 << none << 0 << true;
    QTest::newRow("add as template") << int(AddAsTemplate) << false << 0 << 0 << none << 0 << true;
    QTest::newRow("door rule: not this mould before the door") << int(NotThisMouldOne) << false << 1 << 0 << none << 0
                                                               << false;

    QTest::newRow("not this mould, password right") << int(NotThisMouldOne) << false << 0 << 161 << right << 0 << true;
    QTest::newRow("not this mould, all cameras, operator password")
        << int(NotThisMouldAll) << false << 0 << 161 << operatorPassword << 0 << true;
    QTest::newRow("not this mould, password wrong") << int(NotThisMouldOne) << false << 0 << 161 << wrong << 0 << false;
    QTest::newRow("not this mould, all cameras, box cancelled")
        << int(NotThisMouldAll) << false << 0 << 161 << none << 0 << false;
    QTest::newRow("not this mould, other camera shown under the box")
        << int(NotThisMouldOne) << false << 0 << 161 << right << int(OtherCameraShown) << false;
    QTest::newRow("add as template, password right") << int(AddAsTemplate) << false << 0 << 162 << right << 0 << true;
    QTest::newRow("add as template, wrong then right")
        << int(AddAsTemplate) << false << 0 << 162 << (wrong + right) << 0 << true;
    QTest::newRow("add as template, password wrong") << int(AddAsTemplate) << false << 0 << 162 << wrong << 0 << false;
    QTest::newRow("add as template, box cancelled") << int(AddAsTemplate) << false << 0 << 162 << none << 0 << false;
    QTest::newRow("add as template, other camera shown under the box")
        << int(AddAsTemplate) << false << 0 << 162 << right << int(OtherCameraShown) << false;
}

void TestWindowCycle::panelCommandsAfterAnAlarm()
{
    QFETCH(int, command);
    QFETCH(bool, partRemoved);
    QFETCH(int, doorRule);
    QFETCH(int, password);
    QFETCH(QStringList, entries);
    QFETCH(int, underTheBox);
    QFETCH(bool, granted);
    CycleRig r([doorRule, password](SystemParam& p) {
        p[164] = doorRule;
        p[131] = 0;
        if (password != 0) {
            p[password] = 1;
        }
        p.setPasswordText(QStringLiteral("4711"));
    });
    VeZiRevoru& w = *r.w;
    w.show();

    r.showMould(true);
    r.pulseInput(InMouldOpenEnd);
    QTRY_VERIFY_WITH_TIMEOUT(r.alarmOn(), kSettleMs);
    DrawROIWidget& panel = *w.pDrawROIWidget;
    QTRY_VERIFY_WITH_TIMEOUT(panel.isVisible(), kSettleMs);
    if (partRemoved) {
        r.showMould(false);
    }
    const int from = r.board.frameCount();
    QPushButton* button = nullptr;
    switch (command) {
    case ReCheck:
        button = panel.pCButtonReCheck;
        break;
    case NotThisMouldOne:
        w.state().setShownCamera(0);
        button = panel.pCButtonNoCheckCur;
        break;
    case NotThisMouldAll:
        w.state().setShownCamera(gCameraCount);
        button = panel.pCButtonNoCheckCur;
        break;
    case AddAsTemplate:
        w.state().setShownCamera(0);
        button = panel.pCButtonAddTemp;
        break;
    }
    QVERIFY(button && button->isVisible());
    const int samples = cavitySamples(w);
    int boxes = 0;
    // The password boxes, answered here so that the view can change under one.
    const PasswordEntryHandler previous = setPasswordEntryHandler([&](QString& entry) {
        if (boxes++ == 0 && underTheBox == OtherCameraShown) {
            // Camera 2 saw no part: a command meant for camera 1 must not
            // land on it.
            panel.pComboChangeCamera->setCurrentIndex(1);
        }
        if (entries.isEmpty()) {
            return false;
        }
        entry = entries.takeFirst();
        return true;
    });
    QTest::mouseClick(button, Qt::LeftButton);
    setPasswordEntryHandler(previous);
    QTest::qWait(500);
    QCOMPARE(boxes > 0, password != 0);
    QVERIFY2(entries.isEmpty(), "the box took every entry");

    // The clamp stays withdrawn until a verdict lets it go, and then stays
    // granted: never a grant in between.
    const QString bits = r.clampBits(from);
    QVERIFY2(QRegularExpression(QStringLiteral("^1*0*$")).match(bits).hasMatch(), qPrintable(bits));
    QCOMPARE(bits.endsWith('0'), granted);
    QCOMPARE(r.alarmOn(), !granted);
    if (doorRule != 0) {
        QVERIFY(r.rig->answers->warnings.contains(textOf(195)));
    }
    // A refused or overtaken command leaves both cameras in the re-checks
    // and the libraries as they were.
    if (!granted && command != ReCheck) {
        QCOMPARE(cavitySamples(w), samples);
        for (int c = 0; c < 2; ++c) {
            QVERIFY(!w.pCammer[c]->station().operatorHandled[kCavityDetect]);
        }
        QVERIFY(!recordRemarks().contains(textOf(109).arg(1)));
        QVERIFY(!recordRemarks().contains(textOf(109).arg(2)));
    }
    if (granted && command == AddAsTemplate) {
        QCOMPARE(cavitySamples(w), samples + 1);
    }
}

QTEST_MAIN(TestWindowCycle)
#include "tst_windowcycle.moc"
