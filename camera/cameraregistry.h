#pragma once

#include "systemcounts.h"

#include "camerainterface.h"
#include "systemparam.h"

#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

#include <functional>

// Driver type bits of cameraDriverMask.
constexpr qint32 kMindCameraBit = 0x4;
constexpr qint32 kHikCameraBit = 0x8;
constexpr qint32 kHikIRCameraBit = 0x10;
constexpr qint32 kFotricCameraBit = 0x100;
constexpr qint32 kDo3thinkCameraBit = 0x200;
// Every driver type: what the main window asks discovery for.
constexpr qint32 kAllCameraDrivers = 796;

// Which driver types discovery asks; other bits mean nothing.
extern qint32 cameraDriverMask;
// Driver type id -> prototype of that type, for the whole run.
extern QMap<QString, CameraInterface*> cameraRegistry;
// Every discovered device, in camera order: camera numbers are positions here.
extern QList<CameraInfo> cameraDeviceList;

// Number of opened cameras (at most 8), set by the main window.
extern int gCameraCount;
// For camera k, the serial slot (0 to 7) that saveCameraSerials writes its
// serial to; identity until the operator reorders the cameras.
extern qint32 gCameraOrder[MaxCameras];

// Asks every driver type of cameraDriverMask for its devices, fills
// cameraRegistry and cameraDeviceList, and puts the devices saved in
// cameraSerials first, in slot order. Called once, after the system
// parameters and the serial numbers are loaded.
void discoverCameras();
// A driver for that device, colour output chosen from gColorMode and opened;
// null when its type is not registered or it cannot be created or opened.
CameraInterface* openCamera(CameraInfo record);
// Sets all eight serial slots to "0", then (clear == 0) puts the serial of
// camera k into slot gCameraOrder[k], and writes the slots to SN.db (the
// connection "dbT"), logging "Save SN i: serial" for each slot below
// gCameraCount. Returns whether all eight rows were written; they are written
// together or not at all. Nothing is written to an SN.db whose rows were never
// read (cameraSerialsLoaded): the order stored there would be lost.
bool saveCameraSerials(int clear);
// The same on the given SN.db connection.
bool saveCameraSerials(int clear, QSqlDatabase serialDb);
// The same with the slots taken from order (gCameraCount entries) in place of
// gCameraOrder: the camera order screen saves its choice before making it live.
bool saveCameraSerials(int clear, const qint32* order, QSqlDatabase serialDb);

// The fall-back when no camera opens: the two simulated devices replace the
// device list, and their prototype joins the registry. The caller opens them.
void useSimulatedCameras();

// Puts the devices whose ids equal serials[n] first, in slot order n = 0 to 7;
// the others keep their order behind them. A "0" or empty slot matches nothing.
void orderBySavedSerials(QList<CameraInfo>& devices, const char (*serials)[kCameraSerialBytes], int slotCount);

// One driver type as discovery knows it, in discovery order.
struct CameraDriverType {
    qint32 bit;
    const char* typeId;
};
extern const CameraDriverType kCameraDriverTypes[5];

// Makes a prototype of one driver type, or null.
using CameraDriverFactory = std::function<CameraInterface*()>;
// Replaces the built-in prototype maker of a driver type (by type id; an empty
// function restores the built-in one). Tests put small simulated drivers here.
void setCameraDriverFactory(const QString& typeId, CameraDriverFactory factory);

// What the registry needs of the main window, set when it is built.
// The serial text that camera station k took from its driver.
extern std::function<QString(int camera)> cameraStationSerial;
// Appends an entry to the operation log.
extern std::function<void(const QString& text)> cameraOperationLog;

// Deletes the prototypes and empties the registry and the device list: for
// tests, which discover again and again in one process.
void resetCameraRegistry();
