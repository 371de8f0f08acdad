// Sets up a demo working folder the way an operator would have on the first
// day: the empty mould sampled as the cavity template of both mould cameras,
// a defect area over each cavity, a temperature area on the thermal camera,
// the camera order (mould cameras first) and the settings the demo shows off
// (the safety door must be opened before an alarm can be lifted, OK pictures
// kept as well as NG ones). Writes through the system's own stores.
//
// Usage: demosetup <working folder> <mould camera serial> <mould camera serial> [thermal camera id]
// Camera 3 gets the temperature area in any case; the order saved holds the
// cameras named (the demo names its infrared camera third, so that the
// monitor finds the number of cameras it saved).
// The folder must hold PARAM.db, SN.db and the mould pictures (cammer15 and
// cammer25, written by the mouldpicture tool).

#include "cameraregistry.h"
#include "cammersingleton.h"
#include "clustomrect.h"
#include "globals.h"
#include "mouldpicture.h"
#include "paramstorage.h"
#include "systemparam.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int kCavityDetect = 1;
// The thermal camera's view (the infrared camera of simulated-cameras.json).
constexpr int kThermalWidth = 384;
constexpr int kThermalHeight = 288;

void complain(const QString& text)
{
    std::fprintf(stderr, "demosetup: %s\n", qPrintable(text));
}

int addArea(CammerSingleton& set, ROIInterface* shape, int function, qint32 param, qint32 lower, qint32 upper)
{
    const int slot = kCavityDetect * CammerSingleton::AreasPerDetect + set.roiCount[kCavityDetect]++;
    set.roiLists[kCavityDetect].append(shape);
    set.roiShapeType[slot] = shape->type();
    set.roiFunction[slot] = function;
    set.roiParam[slot] = param;
    set.roiLower[slot] = lower;
    set.roiUpper[slot] = upper;
    return slot;
}

// A defect area a little larger than each cavity, over the empty mould as
// the template.
bool mouldCameraAreas(int camera)
{
    const QString templates = QStringLiteral("cammer%1%2").arg(camera + 1).arg(kCavityDetect + 1);
    const QString picture = QStringLiteral("cammer%1/template0.bmp").arg(10 * camera + 15);
    QDir().mkpath(templates);
    QFile::remove(templates + QStringLiteral("/template0.bmp"));
    if (!QFile::copy(picture, templates + QStringLiteral("/template0.bmp"))) {
        complain(QStringLiteral("cannot copy %1 as the template of camera %2").arg(picture).arg(camera + 1));
        return false;
    }
    CammerSingleton set(camera);
    const MouldLayout layout = mouldLayout(camera);
    for (const cv::Rect& c : layout.cavities) {
        auto* shape = new ClustomRect(c.x - 10, c.y - 10, c.x + c.width + 10, c.y + c.height + 10);
        shape->updateBounds();
        addArea(set, shape, FuncDefect, 3, 25, 100);
    }
    return set.SaveToDB();
}

// One temperature area over the middle of the thermal view, both hot
// cavities in it: its average must stay between 10 and 80 degrees.
bool thermalCameraArea(int camera)
{
    CammerSingleton set(camera);
    auto* shape = new ClustomRect(kThermalWidth / 4, kThermalHeight / 4, 3 * kThermalWidth / 4, 3 * kThermalHeight / 4);
    shape->updateBounds();
    const qint32 average = 1;
    const qint32 emissivity = 95;  // in hundredths
    addArea(set, shape, FuncTempAlarm, emissivity, (average << 16) | 10, 80);
    return set.SaveToDB();
}

bool storeSettings(QSqlDatabase paramDb, QSqlDatabase serialDb)
{
    SystemParam record{};
    loadSysParam(&record, paramDb, serialDb, nullptr);
    if (!sysParamLoaded(paramDb)) {
        complain(QStringLiteral("PARAM.db could not be read"));
        return false;
    }
    record.doorClearsAlarm() = 1;
    record.okImageKeep() = 100;
    record.ngImageKeep() = 100;
    return saveSysParam(&record, paramDb);
}

bool storeCameraOrder(const QStringList& serials, QSqlDatabase serialDb)
{
    if (!cameraSerialsLoaded(serialDb)) {
        complain(QStringLiteral("SN.db could not be read"));
        return false;
    }
    gCameraCount = serials.size();
    cameraStationSerial = [serials](int camera) { return serials.value(camera); };
    const bool ok = saveCameraSerials(0, serialDb);
    cameraStationSerial = nullptr;
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: demosetup <working folder> <mould camera serial> <mould camera serial>"
                             " [thermal camera id]\n");
        return 2;
    }
    if (!QDir::setCurrent(args.at(0))) {
        complain(QStringLiteral("no folder %1").arg(args.at(0)));
        return 1;
    }
    const QStringList serials = args.mid(1);
    bool ok = true;
    {
        QSqlDatabase paramDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), CammerSingleton::ParamConnection);
        paramDb.setDatabaseName(QStringLiteral("PARAM.db"));
        QSqlDatabase serialDb =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QString::fromLatin1(kSerialConnectionName));
        serialDb.setDatabaseName(QStringLiteral("SN.db"));
        ok = paramDb.open() && serialDb.open();
        ok = ok && storeSettings(paramDb, serialDb);
        ok = ok && mouldCameraAreas(0) && mouldCameraAreas(1);
        ok = ok && thermalCameraArea(2);
        ok = ok && storeCameraOrder(serials, serialDb);
        paramDb.close();
        serialDb.close();
    }
    QSqlDatabase::removeDatabase(CammerSingleton::ParamConnection);
    QSqlDatabase::removeDatabase(QString::fromLatin1(kSerialConnectionName));
    if (!ok) {
        complain(QStringLiteral("the demo folder could not be set up"));
        return 1;
    }
    return 0;
}
