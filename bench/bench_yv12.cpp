// The infrared camera's picture converters (yv12ToGray, yv12ToBgra) on one
// thread against OpenCV's cvtColor (COLOR_YUV2GRAY_YV12, COLOR_YUV2BGRA_YV12;
// for speed only, its formula differs) and against a plain loop of the
// camera's formula, at 640 x 512 and 2688 x 1520. Prints megapixels a second
// (median of the repeats), the ratios, and whether the largest picture
// converts well inside the conversion thread's 30 ms pass. Then runs a driver
// over the simulated camera at 2688 x 1520 and 100 pictures a second and
// prints the 99th percentile of getFrame's time, which is its wait on the
// frame lock plus the copy.
//
// Usage: bench_yv12 [repeats]

#include "hcnetsdksim.h"
#include "hikircamera.h"
#include "playctrlsim.h"
#include "systemparam.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double medianSeconds(int repeats, const std::function<void()>& run)
{
    std::vector<double> times;
    run();
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int limitByte(double value)
{
    const double t = std::trunc(value);
    return t < 0 ? 0 : (t > 255 ? 255 : int(t));
}

// The formula pixel by pixel, as a first implementation would write it.
void plainLoop(const unsigned char* source, unsigned char* destination, int width, int height, bool colour)
{
    const unsigned char* vPlane = source + width * height;
    const unsigned char* uPlane = vPlane + (width / 2) * (height / 2);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const double y = source[r * width + c];
            const double v = vPlane[(r / 2) * (width / 2) + c / 2] - 128;
            const double u = uPlane[(r / 2) * (width / 2) + c / 2] - 128;
            const int R = limitByte(y + 1.370705 * v);
            const int G = limitByte(y - 0.698001 * u - 0.703125 * v);
            const int B = limitByte(y + 1.732446 * u);
            if (colour) {
                unsigned char* out = destination + (r * width + c) * 4;
                out[0] = static_cast<unsigned char>(B);
                out[1] = static_cast<unsigned char>(G);
                out[2] = static_cast<unsigned char>(R);
                out[3] = 0;
            } else {
                destination[r * width + c] = static_cast<unsigned char>((299 * R + 587 * G + 114 * B) / 1000);
            }
        }
    }
}

bool compare(int width, int height, int repeats)
{
    const double megapixels = double(width) * double(height) / 1e6;
    cv::Mat source(height * 3 / 2, width, CV_8UC1);
    cv::randu(source, 0, 256);
    const std::size_t sourceBytes = source.total();
    bool ok = true;
    for (const bool colour : {false, true}) {
        cv::Mat ours(height, width, colour ? CV_8UC4 : CV_8UC1);
        cv::Mat plain(height, width, colour ? CV_8UC4 : CV_8UC1);
        cv::Mat theirs;
        const double oursSeconds = medianSeconds(repeats, [&] {
            if (colour) {
                yv12ToBgra(source.data, sourceBytes, ours.data, width, height, false);
            } else {
                yv12ToGray(source.data, sourceBytes, ours.data, width, height, false);
            }
        });
        const double plainSeconds = medianSeconds(repeats, [&] { plainLoop(source.data, plain.data, width, height, colour); });
        const double cvSeconds = medianSeconds(repeats, [&] {
            cv::cvtColor(source, theirs, colour ? cv::COLOR_YUV2BGRA_YV12 : cv::COLOR_YUV2GRAY_YV12);
        });
        const bool same = cv::norm(ours, plain, cv::NORM_INF) == 0;
        ok = ok && same;
        std::printf("%-5s %4d x %4d  ours %8.1f MP/s (%6.2f ms)  plain %7.1f MP/s  cvtColor %8.1f MP/s  "
                    "ours/plain %5.2f  ours/cvtColor %5.2f  %s\n",
                    colour ? "BGRA" : "grey", width, height, megapixels / oursSeconds, oursSeconds * 1e3,
                    megapixels / plainSeconds, megapixels / cvSeconds, plainSeconds / oursSeconds,
                    cvSeconds / oursSeconds, same ? "equal to the formula" : "DIFFERS FROM THE FORMULA");
        if (width == 2688 && oursSeconds * 1e3 > 15) {
            std::printf("  the largest picture takes more than half of the 30 ms pass\n");
        }
    }
    return ok;
}

double frameWaitP99()
{
    SystemParam params;
    params.clear();
    gpSystemParam = &params;
    hcnetReset();
    playctrlReset();
    HikIRCamera::buildResolutionTable();
    NET_DVR_Init();
    IrDevice device;
    device.serial = "BENCH";
    device.address = "127.0.1.64";
    device.resolutionCode = 98;
    device.width = 2688;
    device.height = 1520;
    device.picturesPerSecond = 100;
    hcnetAddDevice(device);
    CameraInfo record;
    record.iid = QString::fromLatin1(kHikIRCameraIid);
    record.number = 0;
    record.setId(QStringLiteral("BENCH"));
    record.setAddress(QStringLiteral("127.0.1.64"));
    record.channelName = QStringLiteral("IRCamera");
    HikIRCamera camera(record);
    camera.setColorOutput(true);
    if (!camera.open() || !camera.startGrab()) {
        return -1;
    }
    std::vector<unsigned char> frame(std::size_t(camera.frameBytes()));
    std::vector<double> waits;
    const auto end = Clock::now() + std::chrono::seconds(3);
    int frames = 0;
    while (Clock::now() < end) {
        const auto start = Clock::now();
        frames += camera.getFrame(frame.data()) ? 1 : 0;
        waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    camera.close();
    hcnetReset();
    playctrlReset();
    gpSystemParam = nullptr;
    std::sort(waits.begin(), waits.end());
    std::printf("getFrame at 2688 x 1520 BGRA: %d frames, %zu calls, median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                frames, waits.size(), waits[waits.size() / 2], waits[waits.size() * 99 / 100], waits.back());
    return waits[waits.size() * 99 / 100];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    cv::setNumThreads(1);
    // The tables are built once per process; not part of a conversion.
    {
        std::vector<unsigned char> warm(2 * 2 * 3 / 2, 128);
        unsigned char out[16];
        yv12ToGray(warm.data(), warm.size(), out, 2, 2, false);
    }
    bool ok = compare(640, 512, repeats);
    ok = compare(2688, 1520, repeats) && ok;
    frameWaitP99();
    return ok ? 0 : 1;
}
