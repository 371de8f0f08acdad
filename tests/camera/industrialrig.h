#pragma once

// What the industrial-camera tests share: the three simulated vendor
// libraries behind one switch, a driver opened on a simulated device, and a
// frame taken from a driver and checked against its stamp.

#include "do3thinkcamera.h"
#include "dvpcamerasim.h"
#include "hikcamera.h"
#include "mindcamera.h"
#include "mvcameracontrolsim.h"
#include "mvcamsdksim.h"
#include "simdevice.h"

#include <QString>
#include <QStringList>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

namespace rig {

enum class Kind { Hik, Mind, Dvp };

inline Kind kindOf(const QString& name)
{
    return name == QLatin1String("hik") ? Kind::Hik : name == QLatin1String("mind") ? Kind::Mind : Kind::Dvp;
}

inline const QStringList& kindNames()
{
    static const QStringList names{QStringLiteral("hik"), QStringLiteral("mind"), QStringLiteral("dvp")};
    return names;
}

inline simdev::Simulator& sim(Kind kind)
{
    switch (kind) {
    case Kind::Hik:
        return mvccSimulator();
    case Kind::Mind:
        return mindSimulator();
    case Kind::Dvp:
        break;
    }
    return dvpSimulator();
}

inline std::unique_ptr<CameraInterface> prototype(Kind kind)
{
    switch (kind) {
    case Kind::Hik:
        return std::make_unique<HikCamera>();
    case Kind::Mind:
        return std::make_unique<MindCamera>();
    case Kind::Dvp:
        break;
    }
    return std::make_unique<Do3thinkCamera>();
}

// A device of that kind. The maker's grey cameras have model names ending in
// "M", which is how the Hik driver tells them.
inline simdev::DeviceProfile device(Kind kind, const std::string& serial, int width = 64, int height = 32,
                                 bool mono = false)
{
    const std::string model = mono ? "MV-CA013-20GM" : "MV-CA013-20GC";
    return sim(kind).makeSpec(serial, model, width, height, mono);
}

inline int addDevice(Kind kind, const std::string& serial, int width = 64, int height = 32, bool mono = false)
{
    return sim(kind).addDevice(device(kind, serial, width, height, mono));
}

// Empties the three libraries and the drivers' process-wide device tables.
inline void resetAll()
{
    for (Kind kind : {Kind::Hik, Kind::Mind, Kind::Dvp}) {
        sim(kind).reset();
    }
    HikCamera::deviceList.clear();
    MindCamera::deviceTableCount = 0;
    Do3thinkCamera::deviceList.clear();
}

inline CameraInfo recordOf(CameraInterface& prototype, const std::string& serial)
{
    for (const CameraInfo& info : prototype.enumerate()) {
        if (info.idText() == QString::fromStdString(serial)) {
            return info;
        }
    }
    return CameraInfo();
}

// A driver opened on the device with that serial, found by a fresh
// enumeration as discovery finds it; null when it does not open.
inline std::unique_ptr<CameraInterface> openDriver(Kind kind, const std::string& serial, bool colour)
{
    const auto proto = prototype(kind);
    const CameraInfo record = recordOf(*proto, serial);
    std::unique_ptr<CameraInterface> driver(proto->create(record));
    if (!driver) {
        return nullptr;
    }
    driver->setColorOutput(colour);
    if (!driver->open()) {
        return nullptr;
    }
    return driver;
}

struct Polled {
    bool got = false;
    simdev::FrameCheck check;
};

// getFrame, and the stamp check of what came. colourCells: the device has a
// colour sensor and colour output is on.
inline Polled poll(CameraInterface& driver, bool colour, bool colourCells = false, int rowStep = 1)
{
    int width = 0, height = 0;
    driver.getSize(width, height);
    // One buffer for every poll: a stress run polls thousands of times.
    thread_local std::vector<unsigned char> frame;
    frame.resize(std::size_t(width) * std::size_t(height) * (colour ? 4 : 1));
    Polled result;
    result.got = driver.getFrame(frame.data());
    if (result.got) {
        result.check = simdev::checkFrame(frame.data(), width, height,
                                          colour ? simdev::Output::Bgra32 : simdev::Output::Grey8, colourCells,
                                          rowStep);
    }
    return result;
}

inline int takeCount(CameraInterface& driver)
{
    int frames = -1;
    driver.takeFrameCount(frames);
    return frames;
}

inline QStringList names(const std::vector<std::string>& calls)
{
    QStringList list;
    for (const std::string& call : calls) {
        list << QString::fromStdString(call);
    }
    return list;
}

} // namespace rig
