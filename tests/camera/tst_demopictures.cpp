#include "cammersingleton.h"
#include "mouldpicture.h"
#include "paramstorage.h"
#include "roiinterface.h"
#include "simulatecamera.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The demo working folder made by the demo script: its simulated cameras must
// show a mould, and the second picture of each must differ from the first
// only in the cavity where the part was left. Each mould camera's cavity
// detect has an area over every cavity, judged against the empty mould, and
// the mould cameras keep their order ahead of a thermal camera's discovery.
// The infrared camera the demo offers is the one its order names third, at
// the size of the view its temperature area was drawn on, and the demo can
// leave it out.
class TestDemoPictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void picturesAreTemplateBitmaps_data();
    void picturesAreTemplateBitmaps();
    void framesDifferOnlyInThePartsCavity_data();
    void framesDifferOnlyInThePartsCavity();
    void cavitiesHaveAreasOverTheEmptyMould_data();
    void cavitiesHaveAreasOverTheEmptyMould();
    void settingsAndCameraOrder();
    void infraredCameraOnAndOff_data();
    void infraredCameraOnAndOff();

private:
    QTemporaryDir m_root;
    QString m_demo;
    QString m_previous = QDir::currentPath();
};

void TestDemoPictures::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_demo = m_root.filePath(QStringLiteral("demo"));
    QProcess script;
    script.setWorkingDirectory(QStringLiteral(KORVANE_SOURCE_DIR));
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {QStringLiteral(KORVANE_SOURCE_DIR "/scripts/make-demo.sh"),
                                          QStringLiteral(KORVANE_BUILD_DIR), m_demo});
    QVERIFY(script.waitForFinished(120000));
    QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0,
             script.readAll().constData());
}

void TestDemoPictures::cleanup()
{
    QDir::setCurrent(m_previous);
}

void TestDemoPictures::picturesAreTemplateBitmaps_data()
{
    QTest::addColumn<QString>("file");
    for (const char* folder : {"cammer15", "cammer25"}) {
        for (const char* name : {"template0.bmp", "template1.bmp"}) {
            const QString file = QStringLiteral("%1/%2").arg(QLatin1String(folder), QLatin1String(name));
            QTest::newRow(qPrintable(file)) << file;
        }
    }
}

void TestDemoPictures::picturesAreTemplateBitmaps()
{
    QFETCH(QString, file);
    QImage image;
    QVERIFY(image.load(QDir(m_demo).filePath(file), "BMP"));
    QCOMPARE(image.size(), QSize(1920, 1080));
    QCOMPARE(image.format(), QImage::Format_Indexed8);
    QVERIFY(image.isGrayscale());
    for (int v = 0; v < image.colorCount(); ++v) {
        QCOMPARE(qGray(image.color(v)), v);
    }
}

void TestDemoPictures::framesDifferOnlyInThePartsCavity_data()
{
    QTest::addColumn<int>("camera");
    QTest::newRow("camera 1") << 0;
    QTest::newRow("camera 2") << 1;
}

void TestDemoPictures::framesDifferOnlyInThePartsCavity()
{
    QFETCH(int, camera);
    QVERIFY(QDir::setCurrent(m_demo));

    SimulateCamera prototype;
    std::unique_ptr<CameraInterface> driver(prototype.create(prototype.enumerate().at(camera)));
    driver->setColorOutput(false);
    QVERIFY(driver->open());
    const int bytes = 1920 * 1080;
    QByteArray empty(bytes, 0), partLeft(bytes, 0);
    driver->softTrigger();
    driver->getFrame(empty.data());
    driver->softTrigger();
    driver->getFrame(partLeft.data());

    // A picture, not a blank: a mould of steel and shadows.
    const cv::Mat a(1080, 1920, CV_8U, empty.data());
    const cv::Mat b(1080, 1920, CV_8U, partLeft.data());
    cv::Scalar mean, dev;
    cv::meanStdDev(a, mean, dev);
    QVERIFY2(mean[0] > 50 && mean[0] < 200 && dev[0] > 25, qPrintable(QStringLiteral("mean %1, deviation %2")
                                                                       .arg(mean[0]).arg(dev[0])));

    const MouldLayout layout = mouldLayout(camera);
    const cv::Rect cavity = layout.cavities.at(size_t(layout.partCavity));
    cv::Mat differs = a != b;
    const int changed = cv::countNonZero(differs);
    cv::Mat outside = differs.clone();
    outside(cavity).setTo(0);
    QCOMPARE(cv::countNonZero(outside), 0);
    // And the part is plainly there: most of its cavity changed, clearly.
    QVERIFY2(changed > cavity.area() / 2, qPrintable(QString::number(changed)));
    cv::Mat diff;
    cv::absdiff(a(cavity), b(cavity), diff);
    QVERIFY(cv::mean(diff)[0] > 30);
}

void TestDemoPictures::cavitiesHaveAreasOverTheEmptyMould_data()
{
    framesDifferOnlyInThePartsCavity_data();
}

void TestDemoPictures::cavitiesHaveAreasOverTheEmptyMould()
{
    QFETCH(int, camera);
    QVERIFY(QDir::setCurrent(m_demo));
    const QString templ = QStringLiteral("cammer%1%2/template0.bmp").arg(camera + 1).arg(2);
    QFile a(templ), b(QStringLiteral("cammer%1/template0.bmp").arg(10 * camera + 15));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QVERIFY(a.readAll() == b.readAll());

    const MouldLayout layout = mouldLayout(camera);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        QVERIFY(db.open());
        CammerSingleton set(camera);
        std::vector<cv::Mat> masks(std::size_t(DetectsPerCamera) * CammerSingleton::AreasPerDetect);
        QVERIFY(set.LoadFromDB(1920, 1080, masks.data()));
        QCOMPARE(set.roiCount[1], int(layout.cavities.size()));
        for (int j = 0; j < set.roiCount[1]; ++j) {
            QCOMPARE(set.roiFunction[CammerSingleton::AreasPerDetect + j], int(FuncDefect));
            const ROIInterface* shape = set.roiLists[1].at(j);
            const QRect bounds(shape->left(), shape->top(), shape->width(), shape->height());
            const cv::Rect& c = layout.cavities.at(std::size_t(j));
            QVERIFY(bounds.contains(QRect(c.x, c.y, c.width, c.height)));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
}

void TestDemoPictures::settingsAndCameraOrder()
{
    QVERIFY(QDir::setCurrent(m_demo));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo-check"));
        db.setDatabaseName(QStringLiteral("SN.db"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QStringList serials;
        QVERIFY(q.exec(QStringLiteral("select value from sysparam where name in ('serialNB0','serialNB1','serialNB2')"
                                      " order by name")));
        while (q.next()) {
            serials << q.value(0).toString();
        }
        QCOMPARE(serials, (QStringList{QStringLiteral("DEMO00001"), QStringLiteral("DEMO00002"),
                                        QStringLiteral("IR0000001")}));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("demo-check"));
    SystemParam record{};
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo-param"));
    db.setDatabaseName(QStringLiteral("PARAM.db"));
    QVERIFY(db.open());
    loadSysParam(&record, db, QSqlDatabase(), nullptr);
    QCOMPARE(int(record.doorClearsAlarm()), 1);
    QVERIFY(record.okImageKeep() > 0);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("demo-param"));
}

void TestDemoPictures::infraredCameraOnAndOff_data()
{
    QTest::addColumn<QString>("thermal");
    // Off first: the folder ends as the demo makes it.
    QTest::newRow("off") << QStringLiteral("off");
    QTest::newRow("on") << QStringLiteral("on");
}

void TestDemoPictures::infraredCameraOnAndOff()
{
    QFETCH(QString, thermal);
    // The demo scripts' own function writes the file, as at every start.
    QProcess script;
    script.setWorkingDirectory(QStringLiteral(KORVANE_SOURCE_DIR));
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {QStringLiteral("-c"),
                                          QStringLiteral("source scripts/demo-lib.sh && demo_cameras \"$1\" \"$2\""),
                                          QStringLiteral("demo-cameras"), m_demo, thermal});
    QVERIFY(script.waitForFinished(30000));
    QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0, script.readAll().constData());

    QFile file(m_demo + QStringLiteral("/simulated-cameras.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonObject cameras = QJsonDocument::fromJson(file.readAll(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray mould = cameras.value(QStringLiteral("MVCameraControl")).toArray();
    QCOMPARE(mould.size(), 2);
    QCOMPARE(mould.at(0).toObject().value(QStringLiteral("serial")).toString(), QStringLiteral("DEMO00001"));
    const QJsonArray infrared = cameras.value(QStringLiteral("HCNetSDK")).toArray();
    if (thermal == QLatin1String("off")) {
        QVERIFY(!cameras.contains(QStringLiteral("HCNetSDK")));
        return;
    }
    QCOMPARE(infrared.size(), 1);
    const QJsonObject camera = infrared.at(0).toObject();
    QCOMPARE(camera.value(QStringLiteral("serial")).toString(), QStringLiteral("IR0000001"));
    QCOMPARE(camera.value(QStringLiteral("width")).toInt(), 384);
    QCOMPARE(camera.value(QStringLiteral("height")).toInt(), 288);
}

QTEST_GUILESS_MAIN(TestDemoPictures)
#include "tst_demopictures.moc"
