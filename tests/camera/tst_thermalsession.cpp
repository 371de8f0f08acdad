// The REST thermal camera session against the loopback camera: the exact
// requests it sends, the sensor size it accepts, the probe, bodies that do
// not fit, replies that must not be taken for a configuration, and the stream
// it owns.
#include "loopbackthermalcamera.h"
#include "thermalnetworkscope.h"
#include "thermalsession.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <atomic>

namespace {

using Fault = LoopbackThermalCamera::Fault;

Fault replyBody(const QByteArray& body, int status = 0)
{
    Fault f;
    f.replaceBody = true;
    f.body = body;
    f.status = status;
    return f;
}

// A configuration whose compact text with its line feed is exactly `bytes` long.
Json::Value configurationOf(std::size_t bytes)
{
    Json::Value c(Json::objectValue);
    c["emissivity"] = 0.95;
    const std::size_t base = Json::FastWriter().write(c).size();
    // {"emissivity":0.94999999999999996,"pad":""}\n
    const std::size_t overhead = base + std::strlen(",\"pad\":\"\"");
    c["pad"] = std::string(bytes - overhead, 'x');
    return c;
}

void onFrame(int status, const streamsdk_frame* frame, void* context)
{
    if (status == STREAMSDK_FRAME && frame) {
        static_cast<std::atomic<int>*>(context)->fetch_add(1);
    }
}

} // namespace

class TestThermalSession : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sensorSize_data();
    void sensorSize();
    void probe_data();
    void probe();
    void requestsAreExact();
    void objectsWithoutTextLabelAreNotSent_data();
    void objectsWithoutTextLabelAreNotSent();
    void bodyMustFitWithItsLineFeed();
    void configurationOnlyFromACompleteReply_data();
    void configurationOnlyFromACompleteReply();
    void streamStartsOnce();
    void streamThatCannotBeCreated();

private:
    std::unique_ptr<LoopbackThermalCamera> camera;
    std::unique_ptr<ThermalNetworkScope> network;
};

void TestThermalSession::init()
{
    camera = std::make_unique<LoopbackThermalCamera>();
    QVERIFY(camera->start());
    network = std::make_unique<ThermalNetworkScope>(QStringLiteral("127.0.%1.1"), camera->restPort(),
                                                    camera->streamPort());
}

void TestThermalSession::cleanup()
{
    network.reset();
    camera.reset();
}

void TestThermalSession::sensorSize_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("384 x 288") << QByteArray("{\"w\": 384, \"h\": 288}") << 384 << 288;
    QTest::newRow("largest") << QByteArray("{\"w\": 4096, \"h\": 4096}") << 4096 << 4096;
    QTest::newRow("smallest") << QByteArray("{\"w\": 1, \"h\": 1}") << 1 << 1;
    QTest::newRow("a JSON array") << QByteArray("[384, 288]") << 0 << 0;
    QTest::newRow("width 0") << QByteArray("{\"w\": 0, \"h\": 288}") << 0 << 0;
    QTest::newRow("width -1") << QByteArray("{\"w\": -1, \"h\": 288}") << 0 << 0;
    QTest::newRow("height 4097") << QByteArray("{\"w\": 384, \"h\": 4097}") << 0 << 0;
    QTest::newRow("width 2^31") << QByteArray("{\"w\": 2147483648, \"h\": 288}") << 0 << 0;
    QTest::newRow("width as text") << QByteArray("{\"w\": \"384\", \"h\": 288}") << 0 << 0;
    QTest::newRow("height missing") << QByteArray("{\"w\": 384}") << 0 << 0;
    QTest::newRow("cut JSON") << QByteArray("{\"w\": 384, \"h\": 2") << 0 << 0;
    QTest::newRow("over-long reply") << "{\"w\": 384, \"h\": 288, \"x\": \"" + QByteArray(1100, 'x') + "\"}" << 0 << 0;
}

void TestThermalSession::sensorSize()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, width);
    QFETCH(int, height);

    camera->setFault("/sensor/dimension", replyBody(reply));
    if (width == 0) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^(Thermal camera|restc)"));
    }
    ThermalSession session("127.0.0.1", "", "");
    QCOMPARE(session.width(), width);
    QCOMPARE(session.height(), height);
    QCOMPARE(camera->requestsTo("/sensor/dimension").size(), 1);
}

void TestThermalSession::probe_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<bool>("present");

    QTest::newRow("200") << 200 << false << true;
    QTest::newRow("404") << 404 << false << false;
    QTest::newRow("500") << 500 << false << false;
    QTest::newRow("no answer") << 0 << true << false;
}

void TestThermalSession::probe()
{
    QFETCH(int, status);
    QFETCH(bool, silent);
    QFETCH(bool, present);

    ThermalSession session("127.0.0.1", "", "");
    Fault f;
    f.status = status == 200 ? 0 : status;
    f.silent = silent;
    camera->setFault("/admin/boot-id", f);
    if (silent) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no reply within the time-out$"));
    }
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.probe(), present);
    QVERIFY(clock.elapsed() < ThermalSession::ShortTimeoutMs + 300);

    // A camera that is not there at all answers at once.
    camera->stop();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Connection refused$"));
    clock.restart();
    QVERIFY(!session.probe());
    QVERIFY(clock.elapsed() < ThermalSession::ShortTimeoutMs / 2);
}

void TestThermalSession::requestsAreExact()
{
    ThermalSession session("127.0.0.1", "", "");
    camera->clearRequests();

    Json::Value configuration(Json::objectValue);
    configuration["emissivity"] = 0.95;
    configuration["reflect-t"] = -5;
    QCOMPARE(session.putConfig(configuration), 200);
    QCOMPARE(session.setCalibrationMode(false), 200);
    QCOMPARE(camera->calibrationMode(), QByteArray("auto"));
    QCOMPARE(session.setCalibrationMode(true), 200);
    QCOMPARE(session.calibrate(), 200);
    Json::Value object(Json::objectValue);
    object["label"] = "R3";
    object["layer"] = 0;
    QCOMPARE(session.putObject(object, ThermalSession::Regions), 200);
    Json::Value value;
    QCOMPARE(session.getObjectValue(value, ThermalSession::Regions, "R3"), 200);
    QCOMPARE(session.getObjectValue(value, ThermalSession::Points, "P3"), 404);

    const QList<LoopbackThermalCamera::Request> r = camera->requests();
    QCOMPARE(r.size(), 7);
    auto line = [](const LoopbackThermalCamera::Request& q) { return q.method + ' ' + q.path; };
    QCOMPARE(line(r[0]), QByteArray("PUT /isp/instrument/jconfig"));
    QCOMPARE(r[0].body, QByteArray("{\"emissivity\":0.94999999999999996,\"reflect-t\":-5}\n"));
    QCOMPARE(line(r[1]), QByteArray("PUT /sensor/cali-mode"));
    QCOMPARE(r[1].body, QByteArray("\"auto\"\n"));
    QCOMPARE(r[2].body, QByteArray("\"manual\"\n"));
    QCOMPARE(line(r[3]), QByteArray("POST /sensor/cali"));
    QCOMPARE(r[3].body, QByteArray("null\n"));
    QCOMPARE(line(r[4]), QByteArray("PUT /isp/instrument/objects/regions/R3"));
    QCOMPARE(r[4].body, QByteArray("{\"label\":\"R3\",\"layer\":0}\n"));
    QCOMPARE(line(r[5]), QByteArray("GET /isp/instrument/objects/regions/R3?value"));
    QCOMPARE(line(r[6]), QByteArray("GET /isp/instrument/objects/points/P3?value"));
    for (const auto& q : r) {
        QVERIFY2(!q.head.contains("Authorization"), q.head.constData());
    }
}

void TestThermalSession::objectsWithoutTextLabelAreNotSent_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("label 5") << QByteArray("{\"label\": 5}");
    QTest::newRow("no label") << QByteArray("{\"layer\": 0}");
    QTest::newRow("null label") << QByteArray("{\"label\": null}");
    QTest::newRow("not an object") << QByteArray("[\"P1\"]");
}

void TestThermalSession::objectsWithoutTextLabelAreNotSent()
{
    QFETCH(QByteArray, json);
    ThermalSession session("127.0.0.1", "", "");
    camera->clearRequests();
    Json::Value object;
    QVERIFY(Json::Reader().parse(json.toStdString(), object));
    QCOMPARE(session.putObject(object, ThermalSession::Points), 404);
    QVERIFY(camera->requests().isEmpty());
}

void TestThermalSession::bodyMustFitWithItsLineFeed()
{
    ThermalSession session("127.0.0.1", "", "");
    camera->clearRequests();
    const Json::Value fits = configurationOf(1024);
    QCOMPARE(Json::FastWriter().write(fits).size(), std::size_t(1024));
    QCOMPARE(session.putConfig(fits), 200);
    QCOMPARE(camera->requests().size(), 1);
    QCOMPARE(camera->requests().at(0).body.size(), 1024);

    const Json::Value tooLong = configurationOf(1025);
    QCOMPARE(Json::FastWriter().write(tooLong).size(), std::size_t(1025));
    QTest::ignoreMessage(QtWarningMsg,
                         "Thermal camera 127.0.0.1: PUT /isp/instrument/jconfig not sent: its body of 1025 bytes "
                         "exceeds 1024");
    QCOMPARE(session.putConfig(tooLong), 0);
    Json::Value object = configurationOf(1025);
    object["label"] = "P1";
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("PUT /isp/instrument/objects/points/P1 not sent"));
    QCOMPARE(session.putObject(object, ThermalSession::Points), 0);
    QCOMPARE(camera->requests().size(), 1);
}

void TestThermalSession::configurationOnlyFromACompleteReply_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("complete");

    QTest::newRow("complete") << QByteArray("{\"emissivity\":0.9,\"humidity\":0.4}") << 0 << true;
    QTest::newRow("cut") << QByteArray("{\"emissivity\":0.9,\"humidity\":0.") << 0 << false;
    QTest::newRow("broken") << QByteArray("{\"emissivity\" 0.9}") << 0 << false;
    QTest::newRow("over-long") << "{\"emissivity\":0.9,\"x\":\"" + QByteArray(1100, 'x') + "\"}" << 0 << false;
    QTest::newRow("500 with an object") << QByteArray("{\"emissivity\":0.9}") << 500 << false;
}

void TestThermalSession::configurationOnlyFromACompleteReply()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(bool, complete);

    ThermalSession session("127.0.0.1", "", "");
    camera->setFault("/isp/instrument/jconfig", replyBody(body, status));
    if (!complete && status == 0) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^(Thermal camera|restc)"));
    }
    Json::Value out;
    const int got = session.getConfig(out);
    QCOMPARE(out.isObject(), complete);
    if (complete) {
        QCOMPARE(got, 200);
        QCOMPARE(out["humidity"].asDouble(), 0.4);
    } else {
        QVERIFY(got != 200 || out.isNull());
    }
}

void TestThermalSession::streamStartsOnce()
{
    camera->setSize(8, 4);
    std::atomic<int> frames{0};
    {
        ThermalSession session("127.0.0.1", "", "");
        session.startStream(&onFrame, &frames);
        session.startStream(&onFrame, &frames);
        QVERIFY(session.streaming());
        QTRY_VERIFY_WITH_TIMEOUT(frames.load() > 0, kSettleMs);
        QCOMPARE(camera->requestsTo("/stream/video/raw").size(), 1);
        QCOMPARE(camera->streamConnections(), 1);

        session.stopStream();
        QVERIFY(!session.streaming());
        const int stopped = frames.load();
        QTest::qWait(30);
        QCOMPARE(frames.load(), stopped);
        session.startStream(&onFrame, &frames);
        QTRY_VERIFY_WITH_TIMEOUT(frames.load() > stopped, kSettleMs);
        QCOMPARE(camera->requestsTo("/stream/video/raw").size(), 2);
    }
    // Destroying the session ended the stream.
    const int ended = frames.load();
    QTest::qWait(30);
    QCOMPARE(frames.load(), ended);
}

void TestThermalSession::streamThatCannotBeCreated()
{
    ThermalNetworkScope noStreamPort(QStringLiteral("127.0.%1.1"), camera->restPort(), 0);
    ThermalSession session("127.0.0.1", "", "");
    std::atomic<int> frames{0};
    QTest::ignoreMessage(QtWarningMsg, "streamsdk: no address or port");
    QTest::ignoreMessage(QtWarningMsg, "Thermal camera 127.0.0.1: no stream");
    session.startStream(&onFrame, &frames);
    QVERIFY(!session.streaming());
    QVERIFY(camera->requestsTo("/stream/video/raw").isEmpty());
}

QTEST_GUILESS_MAIN(TestThermalSession)
#include "tst_thermalsession.moc"
