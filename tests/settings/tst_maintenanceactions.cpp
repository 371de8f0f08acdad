#include "cameraregistry.h"
#include "logcapture.h"
#include "maintenanceactions.h"
#include "processstate.h"
#include "promptanswerer.h"
#include "recordingsystemcommands.h"
#include "systemparam.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QDateTime kOldTime(QDate(2023, 6, 1), QTime(8, 30, 0));

// The working folder of an installed monitor: a program, a database, raw
// frames of two cameras and two detects, all written long ago.
struct Installation {
    TestWorkDir dir;
    MaintenanceFolders folders;
    QString usb;
    QStringList calls;
    MaintenanceHooks hooks;

    Installation()
    {
        folders.programFolder = dir.filePath("rud-OVA");
        folders.backupFolder = dir.path();
        usb = dir.filePath("usb");
        QDir().mkpath(usb);
        for (const char* name : {"rud-OVA/korvane", "rud-OVA/RECORD.db", "rud-OVA/originalimage/cammer11/1.bmp",
                                 "rud-OVA/originalimage/cammer12/1.bmp", "rud-OVA/originalimage/cammer21/1.bmp",
                                 "rud-OVA/originalimage/cammer22/2.bmp", "rud-OVA/originalimage/cammer31/1.bmp"}) {
            dir.write(name, QByteArray(name) + QByteArray(3000, 'x'));
            QFile file(dir.filePath(name));
            file.open(QIODevice::Append);
            file.setFileTime(kOldTime, QFileDevice::FileModificationTime);
        }
        hooks.insertRecord = [this](const QString& text) { calls << "record: " + text; };
        hooks.closeCameras = [this] { calls << "close cameras"; };
        hooks.flushAll = [this] { calls << "flush"; };
        hooks.applyPages = [this] { calls << "apply pages"; };
        hooks.mountUsb = [this] { return usb; };
    }
    QString program(const QString& name) const { return dir.filePath("rud-OVA/" + name); }
};

QStringList kinds(const RecordingSystemCommands& sys)
{
    QStringList out;
    for (const SystemOperation& op : sys.operations) {
        out << op.describe().section(' ', 0, 0);
    }
    return out;
}

}  // namespace

class TstMaintenanceActions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void exportCopiesThenRemovesWhatItCopied();
    void exportFailingHalfwayKeepsFrames();
    void exportUnsyncedIsAFailure();
    void exportWithoutDisk();
    void updatePackages_data();
    void updatePackages();
    void factoryReset_data();
    void factoryReset();
    void exitAndClock();
    void calibration();
    void password_data();
    void password();
};

void TstMaintenanceActions::exportCopiesThenRemovesWhatItCopied()
{
    ProcessState state;
    Installation inst;
    gCameraCount = 2;
    gDetectCount = 2;
    TestClock clock(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    RecordingSystemCommands sys;
    PromptAnswerer answers({1});
    MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
    // A frame the cycle writes while the copy runs must not be lost.
    int busy = 0;
    connect(&actions, &MaintenanceActions::busyChanged, [&](bool on) {
        if (on && ++busy == 2) {
            inst.dir.write("rud-OVA/originalimage/cammer11/new.bmp", "new frame");
        }
    });

    actions.exportData();

    QCOMPARE(answers.questions, QStringList({textOf(324), textOf(147)}));
    QVERIFY(answers.warnings.isEmpty());
    const QString copy = inst.usb + "/2024-03-05_14.07.09/rud-OVA/";
    QCOMPARE(QFile(copy + "originalimage/cammer22/2.bmp").size(), qint64(QByteArray("rud-OVA/originalimage/cammer22/2.bmp").size() + 3000));
    QCOMPARE(QFileInfo(copy + "korvane").lastModified(), kOldTime);
    QCOMPARE(QFileInfo(copy + "originalimage/cammer12/1.bmp").lastModified(), kOldTime);
    for (const char* frame : {"cammer11/1.bmp", "cammer12/1.bmp", "cammer21/1.bmp", "cammer22/2.bmp"}) {
        QVERIFY2(!QFile::exists(inst.program("originalimage/") + frame), frame);
    }
    // Camera 3 is not in use: its folder is no raw-frame folder of this machine.
    QVERIFY(QFile::exists(inst.program("originalimage/cammer31/1.bmp")));
    QVERIFY(QFile::exists(inst.program("korvane")));
    QVERIFY(QFileInfo(inst.program("originalimage/cammer11")).isDir());
    QVERIFY(QFile::exists(inst.program("originalimage/cammer11/new.bmp"))
            || QFile::exists(copy + "originalimage/cammer11/new.bmp"));
    QCOMPARE(kinds(sys), QStringList({"sync", "umount"}));
}

void TstMaintenanceActions::exportFailingHalfwayKeepsFrames()
{
    ProcessState state;
    Installation inst;
    gCameraCount = 2;
    gDetectCount = 2;
    inst.dir.write("rud-OVA/originalimage/cammer21/big.bmp", QByteArray(200 * 1024, 'b'));
    RecordingSystemCommands sys;
    PromptAnswerer answers({1});
    MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
    LogCapture log(LogCapture::Swallow);

    // The disk fills up: no file may grow past 100 KB (this binds root too).
    struct rlimit previous;
    getrlimit(RLIMIT_FSIZE, &previous);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = previous;
    limited.rlim_cur = 100 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    actions.exportData();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(answers.warnings, QStringList({textOf(MaintenanceActions::ExportFailedText)}));
    QCOMPARE(answers.questions, QStringList({textOf(324)}));
    for (const char* frame : {"cammer11/1.bmp", "cammer12/1.bmp", "cammer21/1.bmp", "cammer21/big.bmp", "cammer22/2.bmp"}) {
        QVERIFY2(QFile::exists(inst.program("originalimage/") + frame), frame);
    }
    QCOMPARE(kinds(sys), QStringList({"sync", "umount"}));
}

// A sync the stick refuses (it was pulled, or it is full of bad blocks) leaves
// the copy unsure: the operator is told, and the raw frames stay on the panel.
void TstMaintenanceActions::exportUnsyncedIsAFailure()
{
    ProcessState state;
    Installation inst;
    gCameraCount = 2;
    gDetectCount = 2;
    RecordingSystemCommands sys;
    sys.script(SystemOperation::syncDisks(QFileInfo(inst.usb).absoluteFilePath()),
               RecordingSystemCommands::finished(1, "sync: error syncing: Input/output error"));
    PromptAnswerer answers({1});
    MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
    LogCapture log(LogCapture::Swallow);

    actions.exportData();

    QCOMPARE(answers.warnings, QStringList({textOf(MaintenanceActions::ExportFailedText)}));
    QCOMPARE(answers.questions, QStringList({textOf(324)}));
    for (const char* frame : {"cammer11/1.bmp", "cammer12/1.bmp", "cammer21/1.bmp", "cammer22/2.bmp"}) {
        QVERIFY2(QFile::exists(inst.program("originalimage/") + frame), frame);
    }
    QCOMPARE(sys.performed(), QStringList({"sync -f " + QFileInfo(inst.usb).absoluteFilePath(), "umount /mnt"}));
    QVERIFY(log.contains("Input/output error"));
}

void TstMaintenanceActions::exportWithoutDisk()
{
    ProcessState state;
    Installation inst;
    inst.hooks.mountUsb = [] { return QString(); };
    RecordingSystemCommands sys;
    PromptAnswerer answers({1, 1, 0});
    MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
    actions.exportData();
    QCOMPARE(answers.questions, QStringList({textOf(324), textOf(320), textOf(320)}));
    QVERIFY(sys.operations.isEmpty());
    QVERIFY(QFile::exists(inst.program("originalimage/cammer11/1.bmp")));
}

void TstMaintenanceActions::updatePackages_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("package");
    QTest::newRow("tar.xz") << "V17_x.tar.xz" << "newupdate.tar.xz";
    QTest::newRow("tar.gz comes first") << "x.rar.tar.gz" << "newupdate.tar.gz";
    QTest::newRow("rar") << "V17.rar" << "newupdate.rar";
    QTest::newRow("zip") << "x.zip" << "";
    QTest::newRow("shell in the name") << "a;touch pwned $(touch pwned2).tar.gz" << "newupdate.tar.gz";
}

void TstMaintenanceActions::updatePackages()
{
    QFETCH(QString, fileName);
    QFETCH(QString, package);
    ProcessState state;
    Installation inst;
    inst.dir.write("usb/pkg/" + fileName, "package bytes");
    inst.dir.write("rud-OVA/newupdate.rar", "older package");
    inst.hooks.chooseUpdateFile = [&](QWidget*) { return inst.usb + "/pkg/" + fileName; };
    RecordingSystemCommands sys;
    PromptAnswerer answers({1});
    MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
    actions.updatePauseMs = 0;

    actions.updateApp();

    QCOMPARE(answers.questions, QStringList({textOf(323)}));
    if (package.isEmpty()) {
        QCOMPARE(answers.warnings, QStringList({textOf(MaintenanceActions::UpdateNotAPackageText)}));
        QCOMPARE(inst.dir.read("rud-OVA/newupdate.rar"), QByteArray("older package"));
    } else {
        QVERIFY(answers.warnings.isEmpty());
        QCOMPARE(inst.dir.read("rud-OVA/" + package), QByteArray("package bytes"));
        const QStringList packages = QDir(inst.folders.programFolder).entryList({"newupdate*"}, QDir::Files);
        QCOMPARE(packages, QStringList({package}));
    }
    // Nothing ran from the name, and the databases stay open.
    QVERIFY(!QFile::exists(inst.dir.filePath("pwned")) && !QFile::exists(inst.program("pwned")));
    QVERIFY(!QFile::exists("pwned2"));
    QVERIFY(!inst.calls.contains("flush"));
    QVERIFY(sys.operations.isEmpty());
}

void TstMaintenanceActions::factoryReset_data()
{
    QTest::addColumn<bool>("sourceThere");
    QTest::addColumn<bool>("stalePackage");
    QTest::newRow("target absent") << true << false;
    QTest::newRow("stale package present") << true << true;
    QTest::newRow("source missing") << false << true;
}

void TstMaintenanceActions::factoryReset()
{
    QFETCH(bool, sourceThere);
    QFETCH(bool, stalePackage);
    ProcessState state;
    Installation inst;
    if (sourceThere) {
        inst.dir.write("rud-OVA/paraGroup/default/20clearsh.tar.gz", "factory");
    }
    if (stalePackage) {
        inst.dir.write("rud-OVA/newupdate.tar.gz", "stale");
    }
    PromptAnswerer answers({1});
    MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
    actions.restoreFactorySet();
    QCOMPARE(answers.questions.value(0), textOf(551) + "?");
    if (sourceThere) {
        QCOMPARE(inst.dir.read("rud-OVA/newupdate.tar.gz"), QByteArray("factory"));
        QCOMPARE(answers.questions.value(1), textOf(MaintenanceActions::FactoryPackageReadyText));
    } else {
        QCOMPARE(answers.warnings, QStringList({textOf(MaintenanceActions::FactoryPackageMissingText)}));
        QCOMPARE(inst.dir.read("rud-OVA/newupdate.tar.gz"), QByteArray("stale"));
    }
}

void TstMaintenanceActions::exitAndClock()
{
    ProcessState state;
    LogCapture log(LogCapture::Swallow);
    {
        Installation inst;
        RecordingSystemCommands sys;
        PromptAnswerer answers({1});
        MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
        actions.exitSystem();
        QCOMPARE(answers.questions, QStringList({textOf(294), textOf(296)}));
        QCOMPARE(inst.calls, QStringList({"record: " + textOf(295), "apply pages", "close cameras"}));
        QCOMPARE(sys.exits, QList<int>({0}));
    }
    {
        Installation inst;
        RecordingSystemCommands sys;
        PromptAnswerer answers({1});
        MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
        actions.rebootPauseMs = 0;
        const QDateTime time(QDate(2024, 3, 5), QTime(14, 7, 9));
        actions.timeChosen(time);
        QCOMPARE(answers.questions, QStringList({textOf(402)}));
        QCOMPARE(sys.operations.size(), 2);
        QCOMPARE(sys.operations[0], SystemOperation::setClock(time));
        QCOMPARE(sys.operations[1], SystemOperation::reboot());
        QCOMPARE(inst.calls, QStringList({"apply pages", "record: " + textOf(401), "flush"}));
        QCOMPARE(sys.exits, QList<int>({0}));
    }
    {
        // A clock that cannot be set: told, and nothing follows.
        Installation inst;
        RecordingSystemCommands sys;
        const QDateTime time(QDate(2024, 3, 5), QTime(14, 7, 9));
        sys.script(SystemOperation::setClock(time), RecordingSystemCommands::finished(1));
        PromptAnswerer answers({1});
        MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
        actions.timeChosen(time);
        QCOMPARE(answers.warnings, QStringList({textOf(MaintenanceActions::ClockFailedText)}));
        QCOMPARE(sys.operations.size(), 1);
        QVERIFY(inst.calls.isEmpty());
        QVERIFY(sys.exits.isEmpty());
    }
}

void TstMaintenanceActions::calibration()
{
    ProcessState state;
    LogCapture log(LogCapture::Swallow);
    for (const int exitCode : {0, 1}) {
        Installation inst;
        RecordingSystemCommands sys;
        sys.script(SystemOperation::calibrateTouch(), RecordingSystemCommands::finished(exitCode));
        PromptAnswerer answers({1});
        MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
        actions.rebootPauseMs = 0;
        actions.calibrate();
        if (exitCode == 0) {
            QCOMPARE(kinds(sys).size(), 2);
            QCOMPARE(sys.operations[1], SystemOperation::reboot());
            QCOMPARE(sys.exits, QList<int>({0}));
        } else {
            QCOMPARE(answers.warnings, QStringList({textOf(MaintenanceActions::CalibrationFailedText)}));
            QCOMPARE(sys.operations.size(), 1);
            QVERIFY(sys.exits.isEmpty());
        }
    }
}

void TstMaintenanceActions::password_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<int>("warning");  // 0: accepted
    QTest::newRow("empty") << "" << "" << 278;
    QTest::newRow("different") << "abc" << "abd" << 280;
    QTest::newRow("32") << QString(32, 'k') << QString(32, 'k') << 0;
    QTest::newRow("33") << QString(33, 'k') << QString(33, 'k') << int(MaintenanceActions::PasswordTooLongText);
    QTest::newRow("not Latin-1") << QString::fromUtf8("密码") << QString::fromUtf8("密码")
                                 << int(MaintenanceActions::PasswordTooLongText);
}

void TstMaintenanceActions::password()
{
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(int, warning);
    ProcessState state;
    SystemParam edit;
    edit.setPasswordText("old");
    gpSystemParamEdit = &edit;
    Installation inst;
    PromptAnswerer answers;
    MaintenanceActions actions(inst.folders, inst.hooks, nullptr);
    QCOMPARE(actions.changePassword(password, confirmation), warning == 0);
    if (warning == 0) {
        QCOMPARE(edit.passwordText(), password);
        QCOMPARE(answers.questions, QStringList({textOf(279)}));
    } else {
        QCOMPARE(edit.passwordText(), QString("old"));
        QCOMPARE(answers.warnings, QStringList({textOf(warning)}));
    }
}

QTEST_MAIN(TstMaintenanceActions)
#include "tst_maintenanceactions.moc"
