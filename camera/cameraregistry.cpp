#include "cameraregistry.h"

#include "do3thinkcamera.h"
#include "hikcamera.h"
#include "hikircamera.h"
#include "mindcamera.h"
#include "camerafotric.h"
#include "simulatecamera.h"
#include "paramstorage.h"
#include "systemparam.h"

#include <QSqlError>
#include <QSqlQuery>

#include <cstring>

qint32 cameraDriverMask = 0;
QMap<QString, CameraInterface*> cameraRegistry;
QList<CameraInfo> cameraDeviceList;

int gCameraCount = 0;
qint32 gCameraOrder[MaxCameras] = {0, 1, 2, 3, 4, 5, 6, 7};

std::function<QString(int camera)> cameraStationSerial;
std::function<void(const QString& text)> cameraOperationLog;

const CameraDriverType kCameraDriverTypes[5] = {
    {kHikIRCameraBit, kHikIRCameraIid},
    {kFotricCameraBit, kFotricCameraIid},
    {kHikCameraBit, kHikCameraIid},
    {kMindCameraBit, kMindCameraIid},
    {kDo3thinkCameraBit, kDo3thinkCameraIid},
};

namespace {

QMap<QString, CameraDriverFactory>& factoryOverrides()
{
    static QMap<QString, CameraDriverFactory> overrides;
    return overrides;
}

// The drivers built into this program, one prototype maker per type id; each
// driver adds its line here. A type without a driver finds no devices and
// stays out of the registry.
CameraInterface* makeBuiltInPrototype(const QString& typeId)
{
    if (typeId == QLatin1String(kHikCameraIid)) {
        return new HikCamera;
    }
    if (typeId == QLatin1String(kMindCameraIid)) {
        return new MindCamera;
    }
    if (typeId == QLatin1String(kDo3thinkCameraIid)) {
        return new Do3thinkCamera;
    }
    if (typeId == QLatin1String(kHikIRCameraIid)) {
        return new HikIRCamera;
    }
    if (typeId == QLatin1String(kFotricCameraIid)) {
        return new CameraFotric;
    }
    return nullptr;
}

CameraInterface* makePrototype(const QString& typeId)
{
    const auto it = factoryOverrides().constFind(typeId);
    if (it != factoryOverrides().constEnd()) {
        return (*it)();
    }
    return makeBuiltInPrototype(typeId);
}

void registerPrototype(CameraInterface* prototype)
{
    CameraInterface*& entry = cameraRegistry[prototype->typeId()];
    if (entry != prototype) {
        delete entry;
    }
    entry = prototype;
}

bool matchesSaved(const CameraInfo& device, const char* saved, std::size_t savedLength)
{
    const std::size_t idLength = strnlen(device.id, sizeof device.id);
    return idLength == savedLength && std::memcmp(device.id, saved, idLength) == 0;
}

void appendOperationLog(const QString& text)
{
    if (cameraOperationLog) {
        cameraOperationLog(text);
    } else {
        qInfo("%s", qUtf8Printable(text));
    }
}

} // namespace

void setCameraDriverFactory(const QString& typeId, CameraDriverFactory factory)
{
    if (factory) {
        factoryOverrides().insert(typeId, std::move(factory));
    } else {
        factoryOverrides().remove(typeId);
    }
}

void orderBySavedSerials(QList<CameraInfo>& devices, const char (*serials)[kCameraSerialBytes], int slotCount)
{
    // From the last slot to the first, each match is moved to the front, so
    // slot 0's device ends first. Of two devices matching one slot the later
    // one is moved last and leads.
    for (int n = slotCount - 1; n >= 0; --n) {
        const char* saved = serials[n];
        const std::size_t savedLength = strnlen(saved, kCameraSerialBytes);
        // "0" is how SN.db says "no camera here"; an empty slot (a row that
        // was never loaded) is no serial either, and must not pull a device
        // that reports no serial in front of the saved ones.
        if (savedLength == 0 || (savedLength == 1 && saved[0] == '0')) {
            continue;
        }
        for (int i = 0; i < devices.size(); ++i) {
            if (matchesSaved(devices.at(i), saved, savedLength)) {
                devices.prepend(devices.takeAt(i));
            }
        }
    }
}

void discoverCameras()
{
    for (const CameraDriverType& type : kCameraDriverTypes) {
        if (!(cameraDriverMask & type.bit)) {
            continue;
        }
        const QString typeId = QString::fromLatin1(type.typeId);
        CameraInterface* prototype = makePrototype(typeId);
        if (!prototype) {
            qInfo("Camera driver %s is not built in", type.typeId);
            continue;
        }
        const QList<CameraInfo> devices = prototype->enumerate();
        cameraDeviceList.append(devices);
        registerPrototype(prototype);
        qInfo("Camera driver %s found %d device(s)", type.typeId, int(devices.size()));
    }
    if (!cameraDeviceList.isEmpty()) {
        orderBySavedSerials(cameraDeviceList, cameraSerials, kCameraSerialSlots);
    }
    for (int i = 0; i < cameraDeviceList.size(); ++i) {
        const CameraInfo& device = cameraDeviceList.at(i);
        qInfo("Camera %d: %s %s", i + 1, qUtf8Printable(device.iid), qUtf8Printable(device.idText()));
    }
}

CameraInterface* openCamera(CameraInfo record)
{
    CameraInterface* prototype = cameraRegistry.value(record.iid, nullptr);
    if (!prototype) {
        qWarning("Camera %s: driver type %s is not registered", qUtf8Printable(record.idText()),
                 qUtf8Printable(record.iid));
        return nullptr;
    }
    CameraInterface* driver = prototype->create(record);
    if (!driver) {
        qWarning("Camera %s: the driver could not be created", qUtf8Printable(record.idText()));
        return nullptr;
    }
    driver->setColorOutput(gColorMode != 0);
    if (!driver->open()) {
        qWarning("Camera %s (%s) could not be opened", qUtf8Printable(record.idText()),
                 qUtf8Printable(record.iid));
        // Nobody else holds it; a driver must leave nothing running when its
        // open fails.
        delete driver;
        return nullptr;
    }
    return driver;
}

bool saveCameraSerials(int clear)
{
    return saveCameraSerials(clear, QSqlDatabase::database(QString::fromLatin1(kSerialConnectionName), false));
}

bool saveCameraSerials(int clear, QSqlDatabase serialDb)
{
    return saveCameraSerials(clear, gCameraOrder, serialDb);
}

namespace {

// The eight rows in one transaction: a failure part way would leave a mix of
// the old and the new order, which swaps cameras at the next start.
bool writeSerialRows(QSqlDatabase serialDb)
{
    if (!serialDb.isOpen()) {
        qWarning("SN.db is not open: the camera serials are kept until the next save");
        return false;
    }
    if (!cameraSerialsLoaded(serialDb)) {
        qWarning("SN.db: its rows were never read, so the order stored there is not overwritten;"
                 " the camera serials are kept until the next save");
        return false;
    }
    if (!serialDb.transaction()) {
        qWarning("SN.db: no transaction: %s", qUtf8Printable(serialDb.lastError().text()));
        return false;
    }
    QSqlQuery query(serialDb);
    bool written = query.prepare(QStringLiteral("update sysparam set value=:value where name=:name"));
    for (int i = 0; written && i < kCameraSerialSlots; ++i) {
        const QString value = QString::fromLatin1(cameraSerials[i], int(strnlen(cameraSerials[i], kCameraSerialBytes)));
        query.bindValue(QStringLiteral(":value"), value);
        query.bindValue(QStringLiteral(":name"), QStringLiteral("serialNB%1").arg(i));
        if (!query.exec()) {
            qWarning("SN.db: serialNB%d not written: %s", i, qUtf8Printable(query.lastError().text()));
            written = false;
        } else if (query.numRowsAffected() < 1) {
            qWarning("SN.db: there is no row serialNB%d", i);
            written = false;
        }
    }
    query.finish();
    if (written && serialDb.commit()) {
        return true;
    }
    if (written) {
        qWarning("SN.db: the camera serials could not be committed: %s", qUtf8Printable(serialDb.lastError().text()));
    }
    serialDb.rollback();
    return false;
}

} // namespace

bool saveCameraSerials(int clear, const qint32* order, QSqlDatabase serialDb)
{
    if (clear == 0 && gCameraCount > 0 && !cameraStationSerial) {
        // Without the stations' serials every slot would be saved empty and the
        // operator's camera order lost.
        qWarning("Camera serials not saved: the camera stations are not known");
        return false;
    }
    for (auto& slot : cameraSerials) {
        copyBoundedText(slot, sizeof slot, "0", 1);
    }
    const int cameras = qBound(0, gCameraCount, kCameraSerialSlots);
    if (clear == 0) {
        for (int k = 0; k < cameras; ++k) {
            const qint32 slot = order[k];
            if (slot < 0 || slot >= kCameraSerialSlots) {
                qWarning("Camera %d: serial slot %d does not exist, its serial is not saved", k + 1, slot);
                continue;
            }
            const QByteArray serial = cameraStationSerial(k).toLatin1();
            copyBoundedText(cameraSerials[slot], sizeof cameraSerials[slot], serial.constData(),
                            std::size_t(serial.size()));
        }
    }
    const bool written = writeSerialRows(serialDb);
    for (int i = 0; i < cameras; ++i) {
        const QString value = QString::fromLatin1(cameraSerials[i], int(strnlen(cameraSerials[i], kCameraSerialBytes)));
        appendOperationLog(QStringLiteral("Save SN %1: %2").arg(QString::number(i + 1), value));
    }
    return written;
}

void useSimulatedCameras()
{
    auto* prototype = new SimulateCamera;
    cameraDeviceList = prototype->enumerate();
    registerPrototype(prototype);
}

void resetCameraRegistry()
{
    qDeleteAll(cameraRegistry);
    cameraRegistry.clear();
    cameraDeviceList.clear();
}
