#include "exportstandin.h"
#include "recordstesthelpers.h"
#include "temperaturechartdata.h"
#include "testworkdir.h"
#include "settle.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QDateTime kNow = at(QStringLiteral("2026-12-08 10:00:05.123"));
const QString kResultName = QStringLiteral("2026-12-08_10.00.05.123_result");

struct Export {
    TemperatureChartData data;
    QSignalSpy finished{&data, &TemperatureChartData::exportFinish};
    QSignalSpy failed{&data, &TemperatureChartData::exportFailed};

    Export(int camera = -1, int detect = -1)
    {
        ResultQuery q;
        q.camera = camera;
        q.detect = detect;
        q.area = 3; // never passed on
        q.from = at(QStringLiteral("2026-12-01 08:00:00.000"));
        q.to = at(QStringLiteral("2026-12-02 08:00:00.000"));
        data.setQuery(q);
    }
    // Waits for the end of the running export.
    bool ended() { return QTest::qWaitFor([this] { return !data.exportBusy; }, kSettleMs); }
    QString failure() const { return failed.isEmpty() ? QString() : failed.last().at(0).toString(); }
};

} // namespace

class TestTemperatureExport : public QObject {
    Q_OBJECT

private slots:
    void arguments_data();
    void arguments();
    void endings_data();
    void endings();
    void unusableResultFolder();
    void missingProgram();
    void oneExportAtATime();
};

void TestTemperatureExport::arguments_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("camera");
    QTest::addColumn<int>("detect");
    QTest::addColumn<QString>("folder");

    QTest::newRow("mode 2, all cameras, detect 1") << 2 << -1 << 1 << "data";
    QTest::newRow("mode 1, all") << 1 << -1 << -1 << "data";
    QTest::newRow("mode 1, camera 3 detect 0") << 1 << 3 << 0 << "data";
    QTest::newRow("folder with blanks") << 2 << 0 << 2 << "my exports/day one";
    QTest::newRow("folder with a double quote") << 1 << -1 << -1 << "say \"hi\" -c 7";
    QTest::newRow("Chinese folder") << 2 << 1 << -1 << QStringLiteral("温度 导出");
}

void TestTemperatureExport::arguments()
{
    QFETCH(int, mode);
    QFETCH(int, camera);
    QFETCH(int, detect);
    QFETCH(QString, folder);

    TestWorkDir dir;
    FixedClock clock(kNow);
    QVERIFY(ExportStandin::install());
    Export ex(camera, detect);
    const QString chosen = dir.filePath(folder);
    QVERIFY(ex.data.exportData(mode, chosen));
    QVERIFY(ex.data.exportBusy);
    QVERIFY(ex.ended());
    QCOMPARE(ex.finished.size(), 1);
    QVERIFY(ex.failed.isEmpty());

    const QString resultFolder = QDir(chosen).absoluteFilePath(kResultName);
    QVERIFY(QFileInfo(resultFolder).isDir());
    QList<QByteArray> expected{"-t", "2026-12-01 08:00:00.000", "2026-12-02 08:00:00.000", "-c",
                               QByteArray::number(camera), "-d", QByteArray::number(detect), "-dir",
                               QFile::encodeName(resultFolder + "/"), "-w",
                               QFile::encodeName(QDir::currentPath() + "/")};
    if (mode == 2) {
        expected << "-detail" << "Regular recording";
    }
    QCOMPARE(ExportStandin::lastArguments(), expected);
}

void TestTemperatureExport::endings_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<QString>("reason");
    QTest::newRow("exit 0") << int(ExportStandin::Ending::Exit0) << QString();
    QTest::newRow("exit 1") << int(ExportStandin::Ending::Exit1) << "exit code 1";
    QTest::newRow("abort") << int(ExportStandin::Ending::Abort) << "crashed";
    QTest::newRow("hangs past the limit") << int(ExportStandin::Ending::Hang) << "did not end within 1.5 s";
}

void TestTemperatureExport::endings()
{
    QFETCH(int, ending);
    QFETCH(QString, reason);

    TestWorkDir dir;
    FixedClock clock(kNow);
    QVERIFY(ExportStandin::install(ExportStandin::Ending(ending)));
    Export ex;
    if (ExportStandin::Ending(ending) == ExportStandin::Ending::Hang) {
        ex.data.exportTimeoutMs = 1500;
    }
    // The program's output is logged, with whether it reported the end.
    QTest::ignoreMessage(QtInfoMsg, "export finished\r\n");
    QTest::ignoreMessage(QtInfoMsg, "true");
    QVERIFY(ex.data.exportData(1, dir.filePath("out")));
    QVERIFY(ex.ended());
    if (reason.isEmpty()) {
        QCOMPARE(ex.finished.size(), 1);
        QVERIFY(ex.failed.isEmpty());
        return;
    }
    QVERIFY(ex.finished.isEmpty());
    QCOMPARE(ex.failed.size(), 1);
    QVERIFY2(ex.failure().contains(reason), qPrintable(ex.failure()));

    // Busy is cleared: the next export starts and ends well.
    QVERIFY(ExportStandin::setEnding(ExportStandin::Ending::Exit0));
    ex.data.exportTimeoutMs = TemperatureChartData::kExportTimeoutMs;
    clock.set(kNow.addSecs(1));
    QVERIFY(ex.data.exportData(2, dir.filePath("out")));
    QVERIFY(ex.ended());
    QCOMPARE(ex.finished.size(), 1);
    QCOMPARE(ex.failed.size(), 1);
}

void TestTemperatureExport::unusableResultFolder()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    QVERIFY(ExportStandin::install());
    QVERIFY(dir.write("afile", "x"));
    Export ex;
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("export failed:.*cannot be made"));
    QVERIFY(!ex.data.exportData(1, dir.filePath("afile/below")));
    QVERIFY(!ex.data.exportBusy);
    QCOMPARE(ex.failed.size(), 1);
    QVERIFY(ex.finished.isEmpty());
    QVERIFY(ExportStandin::lastArguments().isEmpty());

    QVERIFY(ex.data.exportData(1, dir.filePath("fine")));
    QVERIFY(ex.ended());
    QCOMPARE(ex.finished.size(), 1);
}

void TestTemperatureExport::missingProgram()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    Export ex;
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("export failed: the export program cannot be started"));
    QVERIFY(!ex.data.exportData(2, dir.filePath("out")));
    QVERIFY(!ex.data.exportBusy);
    QCOMPARE(ex.failed.size(), 1);
    QVERIFY(ex.finished.isEmpty());

    QVERIFY(ExportStandin::install());
    QVERIFY(ex.data.exportData(2, dir.filePath("out")));
    QVERIFY(ex.ended());
    QCOMPARE(ex.finished.size(), 1);
}

void TestTemperatureExport::oneExportAtATime()
{
    TestWorkDir dir;
    FixedClock clock(kNow);
    QVERIFY(ExportStandin::install(ExportStandin::Ending::Hang));
    Export ex;
    ex.data.exportTimeoutMs = 2000;
    QVERIFY(ex.data.exportData(1, dir.filePath("first")));
    QVERIFY(QTest::qWaitFor([] { return !ExportStandin::lastArguments().isEmpty(); }, kSettleMs));
    ExportStandin::clearArguments();
    QVERIFY(!ex.data.exportData(2, dir.filePath("second")));
    QVERIFY(ex.data.exportBusy);
    QVERIFY(!QFileInfo::exists(dir.filePath("second")));
    QVERIFY(ex.ended());
    QCOMPARE(ex.failed.size(), 1);
    QVERIFY(ExportStandin::lastArguments().isEmpty());
}

QTEST_GUILESS_MAIN(TestTemperatureExport)
#include "tst_temperatureexport.moc"
