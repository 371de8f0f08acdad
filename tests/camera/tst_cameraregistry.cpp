#include "cameraregistry.h"
#include "paramstorage.h"
#include "processstate.h"
#include "systemparam.h"
#include "simulatecamera.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

// What the small test drivers have been asked, in order, across all of them.
QStringList gCalls;

// Per driver type: the devices its SDK "finds" and whether opening succeeds.
struct SimulatedSdk {
    QStringList serials;
    bool opens = true;
    bool creates = true;
};
QMap<QString, SimulatedSdk> gSdks;
int gLiveDrivers = 0;

// A driver over a simulated SDK: enumerates the serials configured for its
// type, records the calls that discovery and opening make.
class TestCamera : public CameraInterface {
public:
    explicit TestCamera(QString type, const CameraInfo& record = CameraInfo())
        : type(std::move(type))
    {
        cameraInfo = record;
        serialText = record.idText();
        ++gLiveDrivers;
    }
    ~TestCamera() override { --gLiveDrivers; }

    bool open() override
    {
        gCalls << QStringLiteral("open %1").arg(serialText);
        return gSdks[type].opens;
    }
    void close() override {}
    bool startGrab() override { return true; }
    void stopGrab() override {}
    void release() override {}
    bool reconnect() override { return false; }
    QJsonObject autoAdjust(bool) override { return {}; }
    void setExposure(int) override {}
    void setGain(int) override {}
    void setSharpness(int) override {}
    void setContrast(int) override {}
    void setGamma(int) override {}
    void setWideDynamicRange(bool) override {}
    void oneShotWhiteBalance() override {}
    void setAutoExposure(bool) override {}
    void setColorOutput(bool on) override
    {
        colorOutput = on;
        gCalls << QStringLiteral("colour %1").arg(on ? 1 : 0);
    }
    void setDisplayWindow(QWidget*) override {}
    void setMirror(bool, bool) override {}
    void setFrameRate(int) override {}
    void setDetectConfig(QVariant, int) override {}
    void query(QVariant, QVariant&, int) override {}
    bool takeFrameCount(int& frames) override
    {
        frames = 0;
        return false;
    }
    void setTriggerMode(bool) override {}
    void softTrigger() override {}
    void getSize(int& w, int& h) override
    {
        w = width;
        h = height;
    }
    QString typeId() override { return type; }
    QString serial() override { return serialText; }
    bool getFrame(void*) override { return false; }
    void loadDefaults(int*, int) override {}
    QList<CameraInfo> enumerate() override
    {
        gCalls << QStringLiteral("enumerate %1").arg(type);
        QList<CameraInfo> devices;
        const QStringList serials = gSdks.value(type).serials;
        for (int i = 0; i < serials.size(); ++i) {
            CameraInfo record;
            record.index = i;
            record.iid = type;
            record.setId(serials[i]);
            devices << record;
        }
        return devices;
    }
    int deviceCount() override { return gSdks.value(type).serials.size(); }
    CameraInterface* create(CameraInfo record) override
    {
        gCalls << QStringLiteral("create %1").arg(record.idText());
        return gSdks[type].creates ? new TestCamera(type, record) : nullptr;
    }
    int spectrum() override { return 1; }
    bool isOnline() override { return true; }

private:
    QString type;
};

const QStringList kTypes = {QStringLiteral("hikircamera_IID"), QStringLiteral("fotriccamera_IID"),
                            QStringLiteral("hikcamera_IID"), QStringLiteral("mindcamera_IID"),
                            QStringLiteral("do3thinkcamera_IID")};

void setSaved(const QStringList& slotTexts)
{
    for (int n = 0; n < kCameraSerialSlots; ++n) {
        const QByteArray text = n < slotTexts.size() ? slotTexts[n].toLatin1() : QByteArray("0");
        copyBoundedText(cameraSerials[n], kCameraSerialBytes, text.constData(), size_t(text.size()));
    }
}

QStringList savedSlots()
{
    QStringList slotTexts;
    for (const auto& slot : cameraSerials) {
        slotTexts << QString::fromLatin1(slot);
    }
    return slotTexts;
}

QStringList idsOf(const QList<CameraInfo>& devices)
{
    QStringList ids;
    for (const CameraInfo& d : devices) {
        ids << d.idText();
    }
    return ids;
}

QList<CameraInfo> devicesOf(const QStringList& ids)
{
    QList<CameraInfo> devices;
    for (const QString& id : ids) {
        CameraInfo record;
        record.iid = QStringLiteral("hikcamera_IID");
        record.setId(id);
        devices << record;
    }
    return devices;
}

const char* const kSerialConnection = kSerialConnectionName;

// A working SN.db as the parameter loader leaves it: the eight rows, read by
// the loader (withTable false: a file the loader could not read).
void createSerialDb(const QString& path, bool withTable = true)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QString::fromLatin1(kSerialConnection));
    db.setDatabaseName(path);
    QVERIFY(db.open());
    if (withTable) {
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("create table sysparam(name text, value text)")));
        for (int i = 0; i < 8; ++i) {
            q.prepare(QStringLiteral("insert into sysparam values(?, ?)"));
            q.addBindValue(QStringLiteral("serialNB%1").arg(i));
            q.addBindValue(QStringLiteral("OLD%1").arg(i));
            QVERIFY(q.exec());
        }
    }
    SystemParam record;
    record.clear();
    loadSysParam(&record, QSqlDatabase(), db, nullptr);
    QCOMPARE(cameraSerialsLoaded(db), withTable);
}

QStringList storedSlots()
{
    QStringList rows;
    QSqlQuery q(QSqlDatabase::database(QString::fromLatin1(kSerialConnection)));
    for (int i = 0; i < 8; ++i) {
        q.prepare(QStringLiteral("select value from sysparam where name=?"));
        q.addBindValue(QStringLiteral("serialNB%1").arg(i));
        rows << ((q.exec() && q.next()) ? q.value(0).toString() : QStringLiteral("<no row>"));
    }
    return rows;
}

void dropSerialDb()
{
    QSqlDatabase::database(QString::fromLatin1(kSerialConnection), false).close();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kSerialConnection));
}

} // namespace

class TestCameraRegistry : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void discoveryAsksTheMaskedTypesInOrder_data();
    void discoveryAsksTheMaskedTypesInOrder();
    void savedSerialsComeFirst_data();
    void savedSerialsComeFirst();
    void discoveryOrdersAcrossDrivers();
    void openCamera_data();
    void openCamera();
    void simulatedFallBack();
    void saveCameraSerials_data();
    void saveCameraSerials();
    void saveWithoutStationsKeepsTheOrder();
    void failingSerialDbKeepsMemory();
    void savedOrderHoldsAtTheNextStart();

private:
    std::unique_ptr<ProcessState> m_state;
};

void TestCameraRegistry::init()
{
    m_state = std::make_unique<ProcessState>();
    gCalls.clear();
    gSdks.clear();
    for (const QString& type : kTypes) {
        setCameraDriverFactory(type, [type] { return new TestCamera(type); });
    }
    cameraDriverMask = kAllCameraDrivers;
    setSaved({});
    gColorMode = 0;
    gCameraCount = 0;
    for (int k = 0; k < 8; ++k) {
        gCameraOrder[k] = k;
    }
}

void TestCameraRegistry::cleanup()
{
    resetCameraRegistry();
    for (const QString& type : kTypes) {
        setCameraDriverFactory(type, {});
    }
    m_state.reset();
    QCOMPARE(gLiveDrivers, 0);
}

void TestCameraRegistry::discoveryAsksTheMaskedTypesInOrder_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<QStringList>("asked");  // types enumerated, in order

    QTest::newRow("all five (796)") << 796 << kTypes;
    QTest::newRow("0x8 only") << 0x8 << QStringList{"hikcamera_IID"};
    QTest::newRow("0x4 and 0x200") << (0x4 | 0x200) << QStringList{"mindcamera_IID", "do3thinkcamera_IID"};
    QTest::newRow("0x100 and 0x10") << (0x100 | 0x10) << QStringList{"hikircamera_IID", "fotriccamera_IID"};
    QTest::newRow("bits of no driver") << (0x1 | 0x2 | 0x20 | 0x400) << QStringList{};
    QTest::newRow("none") << 0 << QStringList{};
}

void TestCameraRegistry::discoveryAsksTheMaskedTypesInOrder()
{
    QFETCH(int, mask);
    QFETCH(QStringList, asked);

    gSdks["hikircamera_IID"].serials = QStringList{"IR1", "IR2"};
    gSdks["hikcamera_IID"].serials = QStringList{"H1"};
    gSdks["mindcamera_IID"].serials = QStringList{"M1", "M2"};
    gSdks["do3thinkcamera_IID"].serials = QStringList{"D1"};
    // fotric finds nothing: its prototype is registered all the same.
    cameraDriverMask = mask;
    discoverCameras();

    QStringList enumerated, expectedIds;
    for (const QString& type : asked) {
        enumerated << QStringLiteral("enumerate %1").arg(type);
        expectedIds << gSdks.value(type).serials;
    }
    QCOMPARE(gCalls, enumerated);
    QStringList registered = cameraRegistry.keys();
    QStringList sortedAsked = asked;
    std::sort(registered.begin(), registered.end());
    std::sort(sortedAsked.begin(), sortedAsked.end());
    QCOMPARE(registered, sortedAsked);
    for (auto it = cameraRegistry.cbegin(); it != cameraRegistry.cend(); ++it) {
        QCOMPARE(it.value()->typeId(), it.key());
    }
    QCOMPARE(idsOf(cameraDeviceList), expectedIds);
}

void TestCameraRegistry::savedSerialsComeFirst_data()
{
    QTest::addColumn<QStringList>("saved");  // slotTexts 0.. ("0" = none)
    QTest::addColumn<QStringList>("found");  // discovery order
    QTest::addColumn<QStringList>("ordered");

    QTest::newRow("P in 0, Q in 1; found Q R P") << QStringList{"P", "Q"} << QStringList{"Q", "R", "P"}
                                                  << QStringList{"P", "Q", "R"};
    QTest::newRow("slot 3 only") << QStringList{"0", "0", "0", "S3"} << QStringList{"A", "B", "S3"}
                                 << QStringList{"S3", "A", "B"};
    QTest::newRow("gaps close up") << QStringList{"0", "X", "0", "0", "0", "0", "0", "Y"}
                                   << QStringList{"Y", "Z", "X"} << QStringList{"X", "Y", "Z"};
    QTest::newRow("two devices, one saved serial: later first")
        << QStringList{"D"} << QStringList{"D", "E", "D", "F"} << QStringList{"D", "D", "E", "F"};
    QTest::newRow("nothing saved") << QStringList{} << QStringList{"C", "B", "A"} << QStringList{"C", "B", "A"};
    QTest::newRow("saved serial of a camera now gone") << QStringList{"GONE", "B"} << QStringList{"A", "B"}
                                                       << QStringList{"B", "A"};
    QTest::newRow("prefix is no match") << QStringList{"SN12"} << QStringList{"SN1", "SN123", "SN12"}
                                        << QStringList{"SN12", "SN1", "SN123"};
    QTest::newRow("case matters") << QStringList{"abc"} << QStringList{"ABC", "abc"} << QStringList{"abc", "ABC"};
    QTest::newRow("empty slot pulls no serial-less device")
        << QStringList{"P", ""} << QStringList{"", "P"} << QStringList{"P", ""};
    QTest::newRow("a device whose id is 0 is no saved camera")
        << QStringList{"0", "P"} << QStringList{"0", "P"} << QStringList{"P", "0"};
    QTest::newRow("all eight slotTexts reversed")
        << QStringList{"s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7"}
        << QStringList{"s7", "s6", "s5", "s4", "s3", "s2", "s1", "s0", "extra"}
        << QStringList{"s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7", "extra"};
    QTest::newRow("longest ids") << QStringList{QString(63, 'L')} << QStringList{"A", QString(63, 'L')}
                                 << QStringList{QString(63, 'L'), "A"};
}

void TestCameraRegistry::savedSerialsComeFirst()
{
    QFETCH(QStringList, saved);
    QFETCH(QStringList, found);
    QFETCH(QStringList, ordered);

    setSaved(saved);
    QList<CameraInfo> devices = devicesOf(found);
    orderBySavedSerials(devices, cameraSerials, kCameraSerialSlots);
    QCOMPARE(idsOf(devices), ordered);

    // The same through discovery.
    gSdks["hikcamera_IID"].serials = found;
    cameraDriverMask = kHikCameraBit;
    discoverCameras();
    QCOMPARE(idsOf(cameraDeviceList), ordered);
}

void TestCameraRegistry::discoveryOrdersAcrossDrivers()
{
    gSdks["hikircamera_IID"].serials = QStringList{"IR-A"};
    gSdks["hikcamera_IID"].serials = QStringList{"HK-A", "HK-B"};
    gSdks["do3thinkcamera_IID"].serials = QStringList{"DO-A"};
    setSaved({"DO-A", "HK-B"});
    discoverCameras();
    QCOMPARE(idsOf(cameraDeviceList), (QStringList{"DO-A", "HK-B", "IR-A", "HK-A"}));
    QCOMPARE(cameraDeviceList.at(0).iid, QStringLiteral("do3thinkcamera_IID"));
    QCOMPARE(cameraDeviceList.at(0).index, 0);
    QCOMPARE(cameraDeviceList.at(1).index, 1);
}

void TestCameraRegistry::openCamera_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("iid");
    QTest::addColumn<bool>("creates");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("colourMode");
    QTest::addColumn<QStringList>("calls");  // after discovery
    QTest::addColumn<bool>("opened");

    QTest::newRow("grey camera") << 796 << "hikcamera_IID" << true << true << 0
                                 << QStringList{"create CAM", "colour 0", "open CAM"} << true;
    QTest::newRow("colour camera") << 796 << "mindcamera_IID" << true << true << 1
                                   << QStringList{"create CAM", "colour 1", "open CAM"} << true;
    QTest::newRow("type off at discovery") << (796 & ~0x100) << "fotriccamera_IID" << true << true << 0
                                           << QStringList{} << false;
    QTest::newRow("unknown type") << 796 << "nosuchcamera_IID" << true << true << 0 << QStringList{} << false;
    QTest::newRow("create fails") << 796 << "hikcamera_IID" << false << true << 0 << QStringList{"create CAM"}
                                  << false;
    QTest::newRow("open fails") << 796 << "do3thinkcamera_IID" << true << false << 0
                                << QStringList{"create CAM", "colour 0", "open CAM"} << false;
}

void TestCameraRegistry::openCamera()
{
    QFETCH(int, mask);
    QFETCH(QString, iid);
    QFETCH(bool, creates);
    QFETCH(bool, opens);
    QFETCH(int, colourMode);
    QFETCH(QStringList, calls);
    QFETCH(bool, opened);

    cameraDriverMask = mask;
    discoverCameras();
    gCalls.clear();
    gSdks[iid].creates = creates;
    gSdks[iid].opens = opens;
    gColorMode = colourMode;

    CameraInfo record;
    record.index = 0;
    record.iid = iid;
    record.setId(QStringLiteral("CAM"));
    const int driversBefore = gLiveDrivers;
    std::unique_ptr<CameraInterface> driver(::openCamera(record));
    QCOMPARE(bool(driver), opened);
    QCOMPARE(gCalls, calls);
    // A driver that did not open is not kept alive.
    QCOMPARE(gLiveDrivers, driversBefore + (opened ? 1 : 0));
    if (driver) {
        QCOMPARE(driver->serial(), QStringLiteral("CAM"));
        QCOMPARE(driver->info().iid, iid);
    }
}

void TestCameraRegistry::simulatedFallBack()
{
    TestWorkDir dir;
    gSdks["hikcamera_IID"].serials = QStringList{"H1"};
    gSdks["hikcamera_IID"].opens = false;
    discoverCameras();
    QVERIFY(!::openCamera(cameraDeviceList.at(0)));

    useSimulatedCameras();
    QCOMPARE(cameraDeviceList.size(), 2);
    QVERIFY(cameraRegistry.contains(QStringLiteral("simulatecamera_IID")));
    QVERIFY(cameraRegistry.contains(QStringLiteral("hikcamera_IID")));
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<CameraInterface> camera(::openCamera(cameraDeviceList.at(i)));
        QVERIFY(camera);
        QCOMPARE(camera->spectrum(), 0);
        QCOMPARE(camera->info().index, i);
        QVERIFY(qobject_cast<SimulateCamera*>(camera.get()));
    }
}

void TestCameraRegistry::saveCameraSerials_data()
{
    QTest::addColumn<int>("clear");
    QTest::addColumn<QStringList>("stations");  // serial kept by each camera station
    QTest::addColumn<QVector<int>>("order");     // gCameraOrder
    QTest::addColumn<QStringList>("slotTexts");
    QTest::addColumn<QStringList>("log");

    const QString z = QStringLiteral("0");
    QTest::newRow("two cameras swapped") << 0 << QStringList{"X", "Y"} << QVector<int>{1, 0}
                                         << QStringList{"Y", "X", z, z, z, z, z, z}
                                         << QStringList{"Save SN 1: Y", "Save SN 2: X"};
    QTest::newRow("clear with three cameras") << 1 << QStringList{"A", "B", "C"} << QVector<int>{0, 1, 2}
                                              << QStringList{z, z, z, z, z, z, z, z}
                                              << QStringList{"Save SN 1: 0", "Save SN 2: 0", "Save SN 3: 0"};
    QTest::newRow("three cameras moved to 2 1 3") << 0 << QStringList{"A", "B", "C"} << QVector<int>{1, 0, 2}
                                                  << QStringList{"B", "A", "C", z, z, z, z, z}
                                                  << QStringList{"Save SN 1: B", "Save SN 2: A", "Save SN 3: C"};
    QTest::newRow("quotes and SQL in a serial")
        << 0 << QStringList{"AB'C\"D; drop table sysparam;--"} << QVector<int>{0}
        << QStringList{"AB'C\"D; drop table sysparam;--", z, z, z, z, z, z, z}
        << QStringList{"Save SN 1: AB'C\"D; drop table sysparam;--"};
    QTest::newRow("placeholder text in a serial") << 0 << QStringList{"%1%2"} << QVector<int>{0}
                                                  << QStringList{"%1%2", z, z, z, z, z, z, z}
                                                  << QStringList{"Save SN 1: %1%2"};
    QTest::newRow("slotTexts outside 0 to 7 skipped") << 0 << QStringList{"A", "B", "C"} << QVector<int>{8, -1, 3}
                                                  << QStringList{z, z, z, "C", z, z, z, z}
                                                  << QStringList{"Save SN 1: 0", "Save SN 2: 0", "Save SN 3: 0"};
    QTest::newRow("longest serial cut to 99")
        << 0 << QStringList{QString(150, 'S')} << QVector<int>{0}
        << QStringList{QString(99, 'S'), z, z, z, z, z, z, z} << QStringList{"Save SN 1: " + QString(99, 'S')};
    QTest::newRow("simulated cameras have no serial")
        << 0 << QStringList{"", ""} << QVector<int>{0, 1} << QStringList{"", "", z, z, z, z, z, z}
        << QStringList{"Save SN 1: ", "Save SN 2: "};
    QTest::newRow("eight cameras") << 0 << QStringList{"a", "b", "c", "d", "e", "f", "g", "h"}
                                   << QVector<int>{7, 6, 5, 4, 3, 2, 1, 0}
                                   << QStringList{"h", "g", "f", "e", "d", "c", "b", "a"}
                                   << QStringList{"Save SN 1: h", "Save SN 2: g", "Save SN 3: f", "Save SN 4: e",
                                                  "Save SN 5: d", "Save SN 6: c", "Save SN 7: b", "Save SN 8: a"};
}

void TestCameraRegistry::saveCameraSerials()
{
    QFETCH(int, clear);
    QFETCH(QStringList, stations);
    QFETCH(QVector<int>, order);
    QFETCH(QStringList, slotTexts);
    QFETCH(QStringList, log);

    TestWorkDir dir;
    createSerialDb(dir.filePath("SN.db"));
    setSaved({"P", "Q", "R", "S", "T", "U", "V", "W"});
    gCameraCount = stations.size();
    for (int k = 0; k < order.size(); ++k) {
        gCameraOrder[k] = order[k];
    }
    cameraStationSerial = [&](int k) { return stations.at(k); };
    QStringList written;
    cameraOperationLog = [&](const QString& text) { written << text; };

    ::saveCameraSerials(clear);

    QCOMPARE(savedSlots(), slotTexts);
    QCOMPARE(storedSlots(), slotTexts);
    QCOMPARE(written, log);
}

void TestCameraRegistry::saveWithoutStationsKeepsTheOrder()
{
    TestWorkDir dir;
    createSerialDb(dir.filePath("SN.db"));
    setSaved({"P", "Q"});
    gCameraCount = 2;
    QStringList written;
    cameraOperationLog = [&](const QString& text) { written << text; };
    ::saveCameraSerials(0);
    QCOMPARE(savedSlots().mid(0, 2), (QStringList{"P", "Q"}));
    QCOMPARE(storedSlots().first(), QStringLiteral("OLD0"));
    QVERIFY(written.isEmpty());
}

void TestCameraRegistry::failingSerialDbKeepsMemory()
{
    TestWorkDir dir;
    createSerialDb(dir.filePath("SN.db"), false);  // no table: every update fails
    gCameraCount = 1;
    cameraStationSerial = [](int) { return QStringLiteral("NEW"); };
    QStringList written;
    cameraOperationLog = [&](const QString& text) { written << text; };
    ::saveCameraSerials(0);
    QCOMPARE(savedSlots().first(), QStringLiteral("NEW"));
    QCOMPARE(written, QStringList{"Save SN 1: NEW"});

    // No SN.db connection at all.
    dropSerialDb();
    ::saveCameraSerials(1);
    QCOMPARE(savedSlots().first(), QStringLiteral("0"));
}

// Saved by the camera order screen, loaded by the next start's parameter
// loader, applied by its discovery: the operator's order comes back, whatever
// characters the devices' ids hold.
void TestCameraRegistry::savedOrderHoldsAtTheNextStart()
{
    TestWorkDir dir;
    // Start-up reports the missing working files to the operator.
    initTextTable();
    QVERIFY(writeFactoryParamGroup(QStringLiteral("paraGroup/default")));
    openParamDatabase();
    openSerialDatabase();
    SystemParam first;
    first.clear();
    loadSysParam(&first);
    const QStringList ids = {"DA'0\"1;--", "10.0.0.5", "HK 7"};
    gSdks["hikcamera_IID"].serials = QStringList{ids[0], ids[2]};
    gSdks["hikircamera_IID"].serials = QStringList{ids[1]};
    discoverCameras();
    QCOMPARE(idsOf(cameraDeviceList), (QStringList{ids[1], ids[0], ids[2]}));

    // The operator puts the second camera first, the third second, the first last.
    gCameraCount = 3;
    const QVector<int> order = {2, 0, 1};
    for (int k = 0; k < 3; ++k) {
        gCameraOrder[k] = order[k];
    }
    const QList<CameraInfo> shown = cameraDeviceList;
    cameraStationSerial = [&](int k) { return shown.at(k).idText(); };
    ::saveCameraSerials(0);

    resetCameraRegistry();
    setSaved({});
    std::memset(cameraSerials, 0, sizeof cameraSerials);
    SystemParam record;
    record.clear();
    loadSysParam(&record);
    QCOMPARE(record.snCount(), 3);
    discoverCameras();
    QCOMPARE(idsOf(cameraDeviceList), (QStringList{ids[0], ids[2], ids[1]}));

}

QTEST_GUILESS_MAIN(TestCameraRegistry)
#include "tst_cameraregistry.moc"
