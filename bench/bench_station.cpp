// Memory of eight camera stations over 2448 x 2048 cameras on a four-detect
// machine with room for 100 template samples per detect and one sample
// present per detect: the resident memory the stations add, beside what a
// library allocated up front (every sample slot of all eight detects) would
// need. Grey first, then colour ("grey" or "colour" as the argument runs one).
#include "camerastation.h"

#include "cammersingleton.h"
#include "fakecamera.h"
#include "globals.h"
#include "operatorprompt.h"
#include "sqlitetestutil.h"
#include "stationhost.h"
#include "systemparam.h"
#include "testworkdir.h"

#include <QApplication>
#include <QDir>
#include <QSqlDatabase>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace {

constexpr int Cameras = 8;
constexpr int Width = 2448;
constexpr int Height = 2048;
constexpr int Detects = 4;
constexpr int Samples = 100;

double residentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void run(bool colour)
{
    gColorMode = colour ? 1 : 0;
    const int bpp = colour ? 4 : 1;
    const double frame = double(Width) * Height * bpp;
    const double plane = double(Width) * Height;

    // One sample file per camera and detect.
    std::vector<uchar> picture(std::size_t(frame), 0);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        picture[i] = uchar(i * 7);
    }
    for (int c = 0; c < Cameras; ++c) {
        for (int d = 0; d < Detects; ++d) {
            StationBitmap::write(QStringLiteral("cammer%1%2/template0.bmp").arg(c + 1).arg(d + 1),
                                 picture.data(), Width, Height, bpp, greyRampTable());
        }
    }
    picture.clear();
    picture.shrink_to_fit();

    const double before = residentMiB();
    std::vector<std::unique_ptr<FakeCamera>> cameras;
    std::vector<std::unique_ptr<CameraStation>> stations;
    for (int c = 0; c < Cameras; ++c) {
        cameras.push_back(std::make_unique<FakeCamera>(Width, Height, colour, 1, QStringLiteral("BENCH%1").arg(c)));
        cameras.back()->open();
        stations.push_back(std::make_unique<CameraStation>(c, cameras.back().get()));
        cameras.back()->pause(true);
    }
    const double added = residentMiB() - before;

    // The same stations with the library made up front: every sample slot of
    // all eight detects, ignore masks for all eight.
    const double fixedFrames = 4 * frame + (colour ? plane : 0) + plane /*overlay*/ + 4 * plane /*view*/
                               + Detects * 3 * frame /*recent*/ + frame /*driver hand-over*/;
    const double upFront = Cameras * (fixedFrames + 8 * Samples * frame + 8 * plane) / (1024.0 * 1024.0);
    std::printf("%-6s  stations added %9.0f MiB   up-front library %9.0f MiB   ratio %.3f\n",
                colour ? "colour" : "grey", added, upFront, added / upFront);
    std::fflush(stdout);
    stations.clear();
    cameras.clear();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestWorkDir dir;
    setWarnOperatorHandler([](const QString&) {});
    SystemParam live{};
    gpSystemParam = &live;
    gpSystemParamEdit = &live;
    gDetectCount = Detects;
    gTemplateCount = Samples;
    live.maxTemplates() = Samples;
    openStationParamDatabase(dir.filePath("PARAM.db"), Cameras);
    const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (which.isEmpty() || which == "grey") {
        run(false);
    }
    if (which.isEmpty() || which == "colour") {
        run(true);
    }
    QSqlDatabase::database(CammerSingleton::ParamConnection, false).close();
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    return 0;
}
