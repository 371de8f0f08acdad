// The simulated-device core that the vendor library stand-ins share: its
// frame stamps must expose a torn or misdelivered frame after any conversion
// a library or driver applies, its sessions keep their promise about
// callbacks, and the devices file configures a whole-program run.

#include "simdevice.h"
#include "testworkdir.h"

#include <QImage>
#include <QtTest>

#include <algorithm>

#include <atomic>
#include <thread>
#include <vector>

using namespace simdev;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(simdev::PixelFormat)

namespace {

std::vector<unsigned char> rendered(int device, std::uint32_t sequence, int width, int height, PixelFormat format)
{
    std::vector<unsigned char> frame(frameBytes(width, height, format));
    renderFrame(device, sequence, width, height, format, frame.data());
    return frame;
}

// What a driver makes of a frame for the GUI: grey bytes, or 4-byte pixels
// blue, green, red, 0.
std::vector<unsigned char> toOutput(const std::vector<unsigned char>& raw, PixelFormat format, int width, int height,
                                    Output output)
{
    std::vector<unsigned char> rgb(frameBytes(width, height, PixelFormat::Rgb8));
    convertFrame(raw.data(), format, width, height, rgb.data(), PixelFormat::Rgb8);
    if (output == Output::Grey8) {
        std::vector<unsigned char> grey(frameBytes(width, height, PixelFormat::Mono8));
        convertFrame(raw.data(), format, width, height, grey.data(), PixelFormat::Mono8);
        return grey;
    }
    std::vector<unsigned char> bgra(std::size_t(width) * std::size_t(height) * 4);
    for (std::size_t p = 0; p < std::size_t(width) * std::size_t(height); ++p) {
        bgra[4 * p] = rgb[3 * p + 2];
        bgra[4 * p + 1] = rgb[3 * p + 1];
        bgra[4 * p + 2] = rgb[3 * p];
        bgra[4 * p + 3] = 0;
    }
    return bgra;
}

SimulatorOptions options(const char* library)
{
    return SimulatorOptions{library, 99, [](DeviceProfile& profile) {
                                if (!profile.features.count("Gain")) {
                                    profile.features["Gain"] = Feature{1, 0, 10, 1};
                                }
                            }};
}

} // namespace

class TestSimDevice : public QObject {
    Q_OBJECT

private slots:
    void stampSurvivesConversions_data();
    void stampSurvivesConversions();
    void renderersAgree();
    void tornAndMisdeliveredFramesShow_data();
    void tornAndMisdeliveredFramesShow();
    void sessionPromises();
    void faultsAndPositions();
    void devicesFile();
    void picturesChosenWhileStreaming();
};

void TestSimDevice::stampSurvivesConversions_data()
{
    QTest::addColumn<PixelFormat>("format");
    QTest::addColumn<int>("output");
    QTest::addColumn<bool>("colourCells");
    QTest::newRow("mono to grey") << PixelFormat::Mono8 << int(Output::Grey8) << false;
    QTest::newRow("mono to colour") << PixelFormat::Mono8 << int(Output::Bgra32) << false;
    QTest::newRow("bayer to grey") << PixelFormat::BayerRG8 << int(Output::Grey8) << false;
    QTest::newRow("bayer to colour") << PixelFormat::BayerRG8 << int(Output::Bgra32) << true;
    QTest::newRow("rgb to grey") << PixelFormat::Rgb8 << int(Output::Grey8) << false;
    QTest::newRow("rgb to colour") << PixelFormat::Rgb8 << int(Output::Bgra32) << true;
}

void TestSimDevice::stampSurvivesConversions()
{
    QFETCH(PixelFormat, format);
    QFETCH(int, output);
    QFETCH(bool, colourCells);
    const auto raw = rendered(7, 123456, 64, 32, format);
    const auto frame = toOutput(raw, format, 64, 32, Output(output));
    const FrameCheck check = checkFrame(frame.data(), 64, 32, Output(output), colourCells);
    QVERIFY2(check.whole, check.problem.c_str());
    QCOMPARE(check.device, 7);
    QCOMPARE(check.sequence, 123456u);

    if (colourCells) {
        // Red and blue swapped: the colour cells tell.
        std::vector<unsigned char> swapped = frame;
        for (std::size_t p = 0; p + 3 < swapped.size(); p += 4) {
            std::swap(swapped[p], swapped[p + 2]);
        }
        QVERIFY(!checkFrame(swapped.data(), 64, 32, Output(output), true).whole);
    }
}

void TestSimDevice::renderersAgree()
{
    FrameRenderer renderer;
    for (PixelFormat format : {PixelFormat::Mono8, PixelFormat::BayerRG8, PixelFormat::Rgb8}) {
        for (std::uint32_t sequence : {1u, 2u, 213u, 70000u}) {
            std::vector<unsigned char> fast(frameBytes(48, 8, format));
            renderer.render(3, sequence, 48, 8, format, fast.data());
            QVERIFY(fast == rendered(3, sequence, 48, 8, format));
        }
    }
}

void TestSimDevice::tornAndMisdeliveredFramesShow_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("last row from the next frame") << "torn";
    QTest::newRow("one pixel from the frame before") << "pixel";
    QTest::newRow("stamp of another frame") << "stamp";
    QTest::newRow("tail never written") << "tail";
    QTest::newRow("grey bytes read as 3-byte pixels") << "garbled";
}

void TestSimDevice::tornAndMisdeliveredFramesShow()
{
    QFETCH(QString, damage);
    const int w = 64, h = 32;
    auto frame = toOutput(rendered(1, 10, w, h, PixelFormat::Mono8), PixelFormat::Mono8, w, h, Output::Bgra32);
    const auto next = toOutput(rendered(1, 11, w, h, PixelFormat::Mono8), PixelFormat::Mono8, w, h, Output::Bgra32);
    const auto before = toOutput(rendered(1, 9, w, h, PixelFormat::Mono8), PixelFormat::Mono8, w, h, Output::Bgra32);
    const std::size_t row = std::size_t(w) * 4;
    if (damage == QLatin1String("torn")) {
        std::copy(next.end() - std::ptrdiff_t(row), next.end(), frame.end() - std::ptrdiff_t(row));
    } else if (damage == QLatin1String("pixel")) {
        std::copy_n(before.begin() + std::ptrdiff_t(row * 20 + 4 * 30), 4, frame.begin() + std::ptrdiff_t(row * 20 + 4 * 30));
    } else if (damage == QLatin1String("stamp")) {
        std::copy_n(next.begin(), 2 * row, frame.begin());
    } else if (damage == QLatin1String("tail")) {
        std::fill(frame.begin() + std::ptrdiff_t(frame.size() / 4), frame.end(), 0);
    } else {
        const auto grey = rendered(1, 10, w, h, PixelFormat::Mono8);
        std::vector<unsigned char> garbled(frame.size());
        for (std::size_t p = 0; p < std::size_t(w) * std::size_t(h); ++p) {
            const std::size_t s = (3 * p) % grey.size();
            garbled[4 * p] = grey[(s + 2) % grey.size()];
            garbled[4 * p + 1] = grey[(s + 1) % grey.size()];
            garbled[4 * p + 2] = grey[s];
            garbled[4 * p + 3] = 0;
        }
        frame = garbled;
    }
    QVERIFY(!checkFrame(frame.data(), w, h, Output::Bgra32, false).whole);
}

// stop returns only when no callback runs or will run; close drops notices
// not yet handed over; a vanished device takes no frames and no calls.
void TestSimDevice::sessionPromises()
{
    Simulator sim(options("Test"));
    sim.reset();
    QCOMPARE(sim.addDevice(sim.makeSpec("A", "M", 32, 4, true)), 1);
    QCOMPARE(sim.addDevice(sim.makeSpec("A", "M", 32, 4, true)), -1);  // serial taken
    QCOMPARE(sim.addDevice(sim.makeSpec("odd", "M", 33, 4, true)), -1);
    OpenResult result;
    auto session = sim.open("A", &result);
    QVERIFY(session);
    QVERIFY(!sim.open("A", &result));
    QCOMPARE(result, OpenResult::Busy);

    std::atomic<int> frames{0};
    std::atomic<int> wrongSize{0};
    std::atomic<bool> inCallback{false};
    session->setFrameSink([&](const Frame& frame) {
        inCallback = true;
        std::this_thread::sleep_for(30ms);
        wrongSize += frame.bytes != std::size_t(32 * 4) ? 1 : 0;
        ++frames;
        inCallback = false;
    });
    QCOMPARE(sim.pump("A", 1), 0);  // not started
    QVERIFY(session->start());
    QCOMPARE(sim.pump("A", 3), 3);
    while (!inCallback) {
        std::this_thread::yield();
    }
    session->stop();
    QVERIFY(!inCallback);
    const int afterStop = frames;
    QVERIFY(afterStop >= 1 && afterStop <= 3);
    std::this_thread::sleep_for(50ms);
    QCOMPARE(int(frames), afterStop);
    QCOMPARE(int(wrongSize), 0);

    std::vector<int> events;
    session->setEventSink([&](int code) { events.push_back(code); });
    QVERIFY(session->start());
    QVERIFY(sim.vanish("A"));
    QVERIFY(sim.waitIdle("A"));
    QCOMPARE(events, std::vector<int>{99});
    QVERIFY(!session->alive());
    QCOMPARE(sim.pump("A", 1), 0);
    QVERIFY(sim.present().empty());
    QVERIFY(session->close());
    QCOMPARE(sim.openSessions(), 0);
}

void TestSimDevice::faultsAndPositions()
{
    Simulator sim(options("Test"));
    sim.reset();
    for (const char* serial : {"A", "B", "C"}) {
        QVERIFY(sim.addDevice(sim.makeSpec(serial, "M", 32, 4, false)) > 0);
    }
    // Off until asked for: a library that runs for a day keeps no log of its
    // calls, though injected failures still count them.
    QVERIFY(!sim.call("g", ""));
    QVERIFY(sim.calls().empty());
    sim.setCallLogging(true);
    sim.failNext("f", -5, 2, 1);
    QVERIFY(!sim.call("f", ""));
    QCOMPARE(sim.call("f", "").value_or(0), -5);
    QCOMPARE(sim.call("f", "").value_or(0), -5);
    QVERIFY(!sim.call("f", ""));
    QCOMPARE(sim.calls().size(), std::size_t(4));
    QCOMPARE(sim.calls()[0].thread, std::this_thread::get_id());
    // A test turns it on once; reset() forgets the calls, not the setting.
    sim.reset();
    QVERIFY(sim.calls().empty());
    QVERIFY(!sim.call("f", ""));
    QCOMPARE(sim.calls().size(), std::size_t(1));
    sim.setCallLogging(false);
    QVERIFY(sim.calls().empty());
    for (const char* serial : {"A", "B", "C"}) {
        QVERIFY(sim.addDevice(sim.makeSpec(serial, "M", 32, 4, false)) > 0);
    }

    QVERIFY(sim.vanish("A"));
    QCOMPARE(sim.present().size(), std::size_t(2));
    QVERIFY(sim.comeBack("A", 2, 40, 6));
    const auto present = sim.present();
    QCOMPARE(present.size(), std::size_t(3));
    QCOMPARE(present[2].serial, std::string("A"));
    QCOMPARE(present[2].width, 40);
    QCOMPARE(present[0].features.at("Gain").maximum, 10.0);  // the library's own features
}

void TestSimDevice::devicesFile()
{
    TestWorkDir dir;
    {
        Simulator none(options("Test"));
        QVERIFY(none.present().empty());  // no file: no devices
    }
    QVERIFY(dir.write(QString::fromLatin1(kDevicesFile), R"({
        "Test": [{"serial": "S1", "model": "X", "width": 64, "height": 32, "mono": true, "fps": 5},
                 {"serial": "S2", "width": 63, "height": 32}],
        "Other": [{"serial": "S3"}]})"));
    Simulator sim(options("Test"));
    const auto present = sim.present();
    QCOMPARE(present.size(), std::size_t(1));  // the odd width is left out
    QCOMPARE(present[0].serial, std::string("S1"));
    QVERIFY(present[0].mono);
    QCOMPARE(present[0].format, PixelFormat::Mono8);
    QCOMPARE(present[0].fps, 5.0);
    QVERIFY(present[0].features.count("Gain"));
}

// A device that films pictures: the select file's number picks the picture
// of each frame while it streams; an unknown number shows the first picture,
// and a device whose pictures cannot be read streams its stamped pattern.
void TestSimDevice::picturesChosenWhileStreaming()
{
    TestWorkDir dir;
    for (const auto& [name, grey] : {std::pair<const char*, int>{"empty.png", 10}, {"part.png", 200}}) {
        QImage picture(16, 2, QImage::Format_Grayscale8);  // another size: fitted to the sensor's
        picture.fill(grey);
        QVERIFY(picture.save(QString::fromLatin1(name)));
    }
    QVERIFY(dir.write(QString::fromLatin1(kDevicesFile), R"({"Test": [
        {"serial": "P", "width": 32, "height": 4, "fps": 0,
         "pictures": ["empty.png", "part.png"], "pictureSelect": "scene.txt"},
        {"serial": "Q", "width": 32, "height": 4, "fps": 0, "pictures": ["missing.png"]}]})"));
    Simulator sim(options("Test"));
    QCOMPARE(sim.present().size(), std::size_t(2));

    auto frameOf = [&sim](const char* serial, PixelFormat format) {
        OpenResult result;
        auto session = sim.open(serial, &result);
        std::vector<unsigned char> got;
        if (!session || session->setFormat(format) != SetResult::Ok) {
            return got;
        }
        session->setFrameSink([&got](const Frame& f) { got.assign(f.data, f.data + f.bytes); });
        session->start();
        sim.pump(serial, 1);
        sim.waitIdle(serial);
        session->close();
        return got;
    };
    auto uniform = [](const std::vector<unsigned char>& frame, int value, std::size_t bytes) {
        return frame.size() == bytes
               && std::all_of(frame.begin(), frame.end(), [value](unsigned char b) { return b == value; });
    };
    QVERIFY(uniform(frameOf("P", PixelFormat::BayerRG8), 10, 32 * 4));  // no select file yet
    QVERIFY(dir.write(QStringLiteral("scene.txt"), "1\n"));
    QVERIFY(uniform(frameOf("P", PixelFormat::BayerRG8), 200, 32 * 4));
    QVERIFY(uniform(frameOf("P", PixelFormat::Rgb8), 200, 32 * 4 * 3));
    QVERIFY(dir.write(QStringLiteral("scene.txt"), "7\n"));
    QVERIFY(uniform(frameOf("P", PixelFormat::Mono8), 10, 32 * 4));

    const std::vector<unsigned char> pattern = frameOf("Q", PixelFormat::Mono8);
    QCOMPARE(pattern.size(), std::size_t(32 * 4));
    QVERIFY(checkFrame(pattern.data(), 32, 4, Output::Grey8, false).whole);
}

QTEST_GUILESS_MAIN(TestSimDevice)
#include "tst_simdevice.moc"
