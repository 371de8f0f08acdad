// Thermal frame benchmark: the REST thermal camera's palette stretch and its
// whole grey path at three sensor sizes, against the same steps written with
// OpenCV in the same run (cv::minMaxLoc, convertTo, cv::LUT; OpenCV rounds
// where the driver truncates, so only the speed compares), with the ratios;
// then how long the driver holds its frame lock per frame, measured on a
// driver opened against the loopback camera and fed through its own stream
// callback. Run it from an optimised build; numbers from a sanitizer build
// mean little.
#include "camerafotric.h"
#include "loopbackthermalcamera.h"
#include "thermalnetworkscope.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Seconds per call: repeated for at least 0.3 s and 5 calls.
double secondsPerCall(const std::function<void()>& work)
{
    work();
    int calls = 0;
    const Clock::time_point start = Clock::now();
    Clock::duration spent{};
    do {
        work();
        ++calls;
        spent = Clock::now() - start;
    } while (calls < 5 || spent < std::chrono::milliseconds(300));
    return std::chrono::duration<double>(spent).count() / calls;
}

// A thermal scene: a warm part on a mould at about 3000 raw counts, noise.
std::vector<quint16> scene(int width, int height)
{
    std::vector<quint16> raw(std::size_t(width) * height);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = (x - width * 0.6) / (width * 0.15);
            const double dy = (y - height * 0.4) / (height * 0.15);
            raw[std::size_t(y) * width + x] =
                quint16(3000 + 2500 * std::exp(-(dx * dx + dy * dy)) + random.bounded(60));
        }
    }
    return raw;
}

// The stretch as OpenCV does it: minimum and maximum, a scaled conversion to
// 8 bits, four channels, and the palette as a lookup table.
struct OpenCvPalette {
    OpenCvPalette()
    {
        lut.create(1, 256, CV_8UC4);
        for (int k = 0; k < 256; ++k) {
            lut.at<cv::Vec4b>(0, k) = cv::Vec4b(kThermalPalette[k][2], kThermalPalette[k][1], kThermalPalette[k][0], 0);
        }
    }
    void apply(const cv::Mat& raw, cv::Mat& out)
    {
        double lo = 0;
        double hi = 0;
        cv::minMaxLoc(raw, &lo, &hi);
        const double range = std::max(hi - lo, 1.0);
        raw.convertTo(index, CV_8U, 255.0 / range, -lo * 255.0 / range);
        cv::cvtColor(index, index4, cv::COLOR_GRAY2BGRA);
        cv::LUT(index4, lut, out);
    }
    cv::Mat lut;
    cv::Mat index;
    cv::Mat index4;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const cv::Size sizes[] = {{384, 288}, {640, 512}, {1280, 1024}};

    std::printf("%-11s %-12s %10s %10s %7s\n", "size", "step", "ours MP/s", "OpenCV MP/s", "ratio");
    for (const cv::Size size : sizes) {
        std::vector<quint16> raw = scene(size.width, size.height);
        const double mp = size.area() / 1e6;
        cv::Mat rawMat(size, CV_16UC1, raw.data());

        std::vector<uchar> colour(std::size_t(size.area()) * 4);
        std::vector<uchar> scratch(std::size_t(size.area()) * 4);
        std::vector<uchar> grey(std::size_t(size.area()));
        const double ours = secondsPerCall(
            [&] { applyThermalPalette(raw.data(), size.area(), kThermalPalette, colour.data()); });
        OpenCvPalette cvPalette;
        cv::Mat cvColour;
        const double theirs = secondsPerCall([&] { cvPalette.apply(rawMat, cvColour); });
        std::printf("%4dx%-6d %-12s %10.1f %10.1f %7.2f\n", size.width, size.height, "palette", mp / ours,
                    mp / theirs, theirs / ours);

        const double oursGrey = secondsPerCall([&] {
            thermalGreyImage(raw.data(), size.width, size.height, kThermalPalette, scratch.data(), grey.data());
        });
        cv::Mat cvGrey;
        cv::Mat cvMedian;
        cv::Mat cvOut;
        const double theirsGrey = secondsPerCall([&] {
            cvPalette.apply(rawMat, cvColour);
            cv::cvtColor(cvColour, cvGrey, cv::COLOR_BGRA2GRAY);
            cv::medianBlur(cvGrey, cvMedian, 3);
            cv::bilateralFilter(cvMedian, cvOut, 3, 50, 25, cv::BORDER_REFLECT_101);
        });
        std::printf("%4dx%-6d %-12s %10.1f %10.1f %7.2f\n", size.width, size.height, "grey path", mp / oursGrey,
                    mp / theirsGrey, theirsGrey / oursGrey);
    }

    // The lock: the driver converts every frame under its frame lock, so the
    // time of one stream callback is the time the station's getFrame may wait.
    std::printf("\nframe lock held per frame (driver callback), ms: median / p99 / max\n");
    for (const cv::Size size : sizes) {
        LoopbackThermalCamera camera;
        camera.setSize(size.width, size.height);
        if (!camera.start()) {
            std::fprintf(stderr, "loopback camera did not start\n");
            return 1;
        }
        ThermalNetworkScope network(QStringLiteral("127.0.%1.1"), camera.restPort(), camera.streamPort());
        for (const bool colourOutput : {true, false}) {
            CameraFotric prototype;
            CameraInfo record;
            record.setId(QStringLiteral("127.0.0.1"));
            std::unique_ptr<CameraInterface> driver(prototype.create(record));
            driver->setColorOutput(colourOutput);
            if (!driver->open()) {
                std::fprintf(stderr, "driver did not open\n");
                return 1;
            }
            const std::vector<quint16> raw = scene(size.width, size.height);
            const streamsdk_frame frame{raw.data(), size.width, size.height, 0};
            std::vector<double> ms;
            const Clock::time_point start = Clock::now();
            while (ms.size() < 20 || (Clock::now() - start < std::chrono::milliseconds(500) && ms.size() < 2000)) {
                const Clock::time_point t0 = Clock::now();
                CameraFotric::streamCallback(STREAMSDK_FRAME, &frame, driver.get());
                ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            }
            std::sort(ms.begin(), ms.end());
            std::printf("%4dx%-6d %-7s %8.3f / %8.3f / %8.3f  (%zu frames)\n", size.width, size.height,
                        colourOutput ? "colour" : "grey", ms[ms.size() / 2], ms[(ms.size() * 99) / 100], ms.back(),
                        ms.size());
        }
    }
    return 0;
}
