#include "camerastation.h"

#include "camerainterface.h"
#include "cammersingleton.h"
#include "detectalgorithm.h"
#include "globals.h"
#include "operatingstate.h"
#include "operatorprompt.h"
#include "recordshandover.h"
#include "repolygon.h"
#include "roiinterface.h"
#include "stationhost.h"
#include "systemclock.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------- bitmaps

namespace StationBitmap {

bool readFrame(const QString& path, int width, int height, int bytesPerPixel, uchar* out)
{
    if (width <= 0 || height <= 0 || (bytesPerPixel != 1 && bytesPerPixel != 4)) {
        return false;
    }
    QImage image;
    if (!image.load(path, "BMP") || image.width() != width || image.height() != height
        || image.depth() != 8 * bytesPerPixel) {
        return false;
    }
    const std::size_t row = std::size_t(width) * std::size_t(bytesPerPixel);
    for (int y = 0; y < height; ++y) {
        std::memcpy(out + std::size_t(y) * row, image.constScanLine(y), row);
    }
    return true;
}

bool readGrey(const QString& path, int width, int height, uchar* out)
{
    if (width <= 0 || height <= 0) {
        return false;
    }
    QImage image;
    if (!image.load(path, "BMP") || image.width() != width || image.height() != height) {
        return false;
    }
    // An indexed 8-bit file holds the values themselves; any other depth is
    // turned into grey so a 1-bit or colour file gives its picture, not its
    // raw bytes.
    if (image.format() != QImage::Format_Indexed8 && image.format() != QImage::Format_Grayscale8) {
        image = image.convertToFormat(QImage::Format_Grayscale8);
        if (image.isNull()) {
            return false;
        }
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(out + std::size_t(y) * std::size_t(width), image.constScanLine(y), std::size_t(width));
    }
    return true;
}

bool write(const QString& path, const uchar* data, int width, int height, int bytesPerPixel,
           const QVector<QRgb>& grayTable)
{
    if (width <= 0 || height <= 0 || (bytesPerPixel != 1 && bytesPerPixel != 4) || !data) {
        return false;
    }
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        qWarning().noquote() << QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    const quint32 row = quint32(width) * quint32(bytesPerPixel);
    const quint32 stride = (row + 3u) & ~3u;
    const quint32 paletteBytes = bytesPerPixel == 1 ? 256u * 4u : 0u;
    const quint32 offset = 14u + 40u + paletteBytes;
    const quint64 imageBytes = quint64(stride) * quint64(height);
    if (offset + imageBytes > 0xffffffffull) {
        return false;
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    // File header, then a BITMAPINFOHEADER; rows bottom-up.
    out << quint8('B') << quint8('M') << quint32(offset + imageBytes) << quint16(0) << quint16(0)
        << offset;
    out << quint32(40) << qint32(width) << qint32(height) << quint16(1) << quint16(8 * bytesPerPixel)
        << quint32(0) << quint32(imageBytes) << qint32(2835) << qint32(2835)
        << quint32(bytesPerPixel == 1 ? 256 : 0) << quint32(0);
    if (bytesPerPixel == 1) {
        for (int v = 0; v < 256; ++v) {
            const QRgb c = v < grayTable.size() ? grayTable[v] : qRgb(v, v, v);
            out << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
        }
    }
    const QByteArray padding(int(stride - row), '\0');
    for (int y = height - 1; y >= 0; --y) {
        out.writeRawData(reinterpret_cast<const char*>(data) + std::size_t(y) * row, int(row));
        if (!padding.isEmpty()) {
            out.writeRawData(padding.constData(), padding.size());
        }
    }
    if (out.status() != QDataStream::Ok || !file.commit()) {
        qWarning().noquote() << QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace StationBitmap

// ---------------------------------------------------------------- construction

CameraStation::CameraStation(int camera, CameraInterface* driver, QWidget* display)
    : pDriver(driver)
{
    qRegisterMetaType<CammerSingleton*>("CammerSingleton *");
    data.cameraIndex = camera;
    data.peers = this;

    if (pDriver) {
        driverId = pDriver->typeId();
        const QByteArray serial = pDriver->serial().toUtf8();
        copyBoundedText(serialText, sizeof serialText, serial.constData(), std::size_t(serial.size()));
    }
    cameraOpen = pDriver != nullptr;

    int width = 0;
    int height = 0;
    if (pDriver) {
        pDriver->getSize(width, height);
        const int spectrum = pDriver->spectrum();
        isThermal = (spectrum & 2) != 0;
        isSimulated = spectrum == 0;
        pDriver->setDisplayWindow(display);
    }
    ApplyCameraSettings();

    const int detects = std::max(0, std::min(gDetectCount, DetectCount));
    data.allocate(width, height, colourMode(), std::max(1, gTemplateCount), detects);
    viewBuffer.assign(std::size_t(data.pixelCount), 0);
    for (int d = 0; d < detects; ++d) {
        samplePending[d] = false;
    }
    for (int d = 0; d < detects; ++d) {
        LoadTemplates(d);
    }
    recentIndex = 0;
    for (int d = 0; d < detects; ++d) {
        recentCount[d] = 0;
        operatorHandled[d] = false;
        for (auto& picture : recentImages[d]) {
            picture.assign(std::size_t(data.bufferSize), 0);
        }
    }
    LoadIgnoreMasks();

    pLiveSingleton = std::make_unique<CammerSingleton>(camera);
    pLiveSingleton->LoadFromDB(&data);
    pEditSingleton = std::make_unique<CammerSingleton>(camera);
    data.pLiveSingleton = pLiveSingleton.get();
    data.pEditSingleton = pEditSingleton.get();
    pDetector = std::make_unique<DetectAlgorithm>(pLiveSingleton.get(), &data);

    if (isThermal && pDriver) {
        pDriver->setDetectConfig(QVariant::fromValue(pLiveSingleton.get()), 0);
    }
    if (cameraOpen) {
        grabbing = true;
        pDriver->startGrab();
    }

    fpsTimer = new QTimer();
    fpsTimer->setInterval(1000);
    QObject::connect(fpsTimer, &QTimer::timeout, [this] { TimerFPS(); });
    fpsTimer->start();
}

CameraStation::~CameraStation()
{
    delete fpsTimer;
    delete drawingShape;
    data.peers = nullptr;
}

bool CameraStation::colourMode() const
{
    return gColorMode != 0;
}

QString CameraStation::folder(int detect) const
{
    return QStringLiteral("./cammer%1%2").arg(data.cameraIndex + 1).arg(detect + 1);
}

QString CameraStation::templatePath(int detect, int sample) const
{
    return folder(detect) + QStringLiteral("/template%1.bmp").arg(sample);
}

QString CameraStation::ignorePath(int detect) const
{
    return folder(detect) + QStringLiteral("/ignorepoint.bmp");
}

QVector<QRgb> CameraStation::grayTable() const
{
    StationHost* host = stationHost();
    QVector<QRgb> table = host ? host->grayColourTable() : QVector<QRgb>();
    return table.size() == 256 ? table : greyRampTable();
}

int CameraStation::editDetect() const
{
    const OperatingState* op = operatingState();
    const int d = op ? op->editedDetect() : 0;
    return d >= 0 && d < DetectCount ? d : 0;
}

void CameraStation::setDrawMode(int mode)
{
    if (OperatingState* op = operatingState()) {
        op->setDrawMode(DrawMode(mode));
    }
}

// ---------------------------------------------------------------- templates and masks

bool CameraStation::LoadTemplates(int d)
{
    if (d < 0 || d >= DetectCount) {
        return false;
    }
    const std::size_t sampleSlots = data.templateValid[d].size();
    const int bpp = bytesPerPixel();
    // Read each file into one scratch frame; a slot is occupied only by a
    // file that is valid, so absent samples cost no memory.
    std::vector<uchar> scratch(std::size_t(data.bufferSize));
    for (std::size_t k = 0; k < sampleSlots; ++k) {
        data.freeTemplate(d, int(k));
        if (data.bufferSize > 0
            && StationBitmap::readFrame(templatePath(d, int(k)), data.imageWidth, data.imageHeight, bpp,
                                        scratch.data())) {
            uchar* buffer = data.occupyTemplate(d, int(k));
            std::memcpy(buffer, scratch.data(), scratch.size());
        }
    }
    if (sampleSlots > 0 && !data.templateValid[d][0] && data.bufferSize > 0) {
        uchar* buffer = data.occupyTemplate(d, 0);
        const int w = data.imageWidth;
        const int h = data.imageHeight;
        for (int y = h / 4; y <= 3 * (h / 4) && y < h; ++y) {
            for (int x = w / 4; x <= 3 * (w / 4) && x < w; ++x) {
                std::memset(buffer + (std::size_t(y) * std::size_t(w) + std::size_t(x)) * std::size_t(bpp), 255,
                            std::size_t(bpp));
            }
        }
    }
    return true;
}

void CameraStation::LoadIgnoreMasks()
{
    for (int d = 0; d < DetectCount; ++d) {
        std::vector<uchar>& mask = data.ignoreMasks[d];
        if (mask.empty()) {
            continue; // detect not in use
        }
        if (!StationBitmap::readGrey(ignorePath(d), data.imageWidth, data.imageHeight, mask.data())) {
            std::fill(mask.begin(), mask.end(), uchar(0));
        }
        editIgnoreMasks[d].clear();
    }
}

bool CameraStation::SaveIgnoreMask(int d)
{
    if (d < 0 || d >= DetectCount || data.ignoreMasks[d].size() != std::size_t(data.pixelCount)) {
        return false;
    }
    return StationBitmap::write(ignorePath(d), data.ignoreMasks[d].data(), data.imageWidth, data.imageHeight, 1,
                                grayTable());
}

bool CameraStation::CommitIgnoreMask(int d)
{
    if (d < 0 || d >= DetectCount) {
        return false;
    }
    if (editIgnoreMasks[d].size() == data.ignoreMasks[d].size()) {
        data.ignoreMasks[d] = editIgnoreMasks[d];
    }
    return SaveIgnoreMask(d);
}

bool CameraStation::StoreTemplate(int d, int k, const uchar* source)
{
    if (d < 0 || d >= DetectCount || k < 0 || std::size_t(k) >= data.templateValid[d].size() || !source
        || data.bufferSize <= 0) {
        return false;
    }
    // The file first: a slot whose picture is not on disk would be lost at
    // the next start without anyone knowing.
    if (!StationBitmap::write(templatePath(d, k), source, data.imageWidth, data.imageHeight, bytesPerPixel(),
                              grayTable())) {
        return false;
    }
    uchar* buffer = data.occupyTemplate(d, k);
    if (buffer != source) {
        std::memmove(buffer, source, std::size_t(data.bufferSize));
    }
    return true;
}

void CameraStation::RemoveTemplate(int d, int k)
{
    if (d < 0 || d >= DetectCount || k < 0 || std::size_t(k) >= data.templateValid[d].size()) {
        return;
    }
    data.freeTemplate(d, k);
    QFile::remove(templatePath(d, k));
}

bool CameraStation::SaveReTrainImage(int d)
{
    if (d < 0 || d >= DetectCount || data.templateValid[d].empty() || data.bufferSize <= 0) {
        return false;
    }
    const std::size_t n = std::size_t(data.bufferSize);
    std::memcpy(data.lastImage.data(), data.grabBuffer.data(), n);
    std::memcpy(data.displayBuffer.data(), data.lastImage.data(), n);
    // Sample 0 is always present; its picture in memory follows the frame
    // even when the file cannot be written, so the cycle trains on what it
    // sees; the failure is logged by StoreTemplate.
    const bool written = StoreTemplate(d, 0, data.lastImage.data());
    if (!written) {
        std::memcpy(data.occupyTemplate(d, 0), data.lastImage.data(), n);
    }
    return written;
}

// ---------------------------------------------------------------- frames and the camera

bool CameraStation::GrabFrame()
{
    if (!pDriver || data.grabBuffer.empty()) {
        return false;
    }
    const bool got = pDriver->getFrame(data.grabBuffer.data());
    if (got) {
        lastFrameMs = clockMonotonicMs();
    }
    if (gpSystemParam && gpSystemParam->externalTrigger() == 0 && (gImageSource == -1 || gImageSource == 1)) {
        std::memcpy(data.displayBuffer.data(), data.grabBuffer.data(), std::size_t(data.bufferSize));
        repaintStation();
    }
    return got;
}

bool CameraStation::streamStalled(qint64 nowMs, qint64 marginMs, qint64 sinceMs) const
{
    if (isSimulated || !pDriver || lastFrameMs < 0 || (gpSystemParam && gpSystemParam->externalTrigger() != 0)) {
        return false;
    }
    const qint64 interval = frameCount > 0 ? 1000 / frameCount : 1000;
    // Either limit: the newer one, so a delay does not stretch what counts as new.
    const qint64 oldest = std::max(nowMs, sinceMs) - interval - marginMs;
    return lastFrameMs < oldest;
}

void CameraStation::TimerFPS()
{
    if (!pDriver) {
        return;
    }
    const bool got = pDriver->takeFrameCount(frameCount);
    if (!got && grabbing && online && !isSimulated) {
        online = pDriver->isOnline();
        if (!online) {
            pDriver->release();
            repaintStation();
            const QString text = textOf(332).arg(lostCount).arg(QString::fromUtf8(serialText));
            ++lostCount;
            if (data.peers) {
                data.peers->insertRecord(text);
            }
        }
    }
    if (!online) {
        online = pDriver->reconnect();
        if (online) {
            // A camera that comes back at another size would write past every
            // frame buffer: it stays lost until the program starts again.
            int width = 0;
            int height = 0;
            pDriver->getSize(width, height);
            if (width != data.imageWidth || height != data.imageHeight) {
                online = false;
                pDriver->release();
                qWarning().noquote() << QStringLiteral("camera %1 (%2) came back at %3 x %4 instead of %5 x %6; left lost")
                                            .arg(data.cameraIndex + 1)
                                            .arg(QString::fromUtf8(serialText))
                                            .arg(width)
                                            .arg(height)
                                            .arg(data.imageWidth)
                                            .arg(data.imageHeight);
                return;
            }
            ApplyCameraSettings();
        }
    }
}

void CameraStation::ApplyCameraSettings()
{
    if (!pDriver || !gpSystemParam) {
        return;
    }
    const SystemParam& p = *gpSystemParam;
    const int c = data.cameraIndex;
    if (!cameraOpen) return;
    pDriver->setTriggerMode(false);
    if (!cameraOpen) return;
    pDriver->setExposure(p[c]);
    if (!cameraOpen) return;
    pDriver->setGain(p[8 + c]);
    if (!cameraOpen) return;
    pDriver->setContrast(p[24 + c]);
    if (!cameraOpen) return;
    pDriver->setSharpness(p[16 + c]);
    if (!cameraOpen) return;
    pDriver->setGamma(p[32 + c]);
    if (!cameraOpen) return;
    pDriver->setWideDynamicRange(p.autoShading() != 0);
    if (!cameraOpen) return;
    pDriver->setAutoExposure(p.autoExposure() != 0);
    if (!cameraOpen) return;
    grabbing = false;
    pDriver->stopGrab();
    pDriver->setFrameRate(p.grabSpeed());
    if (!cameraOpen) return;
    grabbing = true;
    pDriver->startGrab();
    if (!cameraOpen) return;
    pDriver->setMirror(p[40 + c] != 0, p[48 + c] != 0);
}

namespace {
const SystemParam* record(bool fromEdit)
{
    return fromEdit ? gpSystemParamEdit : gpSystemParam;
}
} // namespace

void CameraStation::SetExposure(bool fromEdit)
{
    if (cameraOpen && pDriver && record(fromEdit)) pDriver->setExposure((*record(fromEdit))[data.cameraIndex]);
}

void CameraStation::SetGain(bool fromEdit)
{
    if (cameraOpen && pDriver && record(fromEdit)) pDriver->setGain((*record(fromEdit))[8 + data.cameraIndex]);
}

void CameraStation::SetSharpness(bool fromEdit)
{
    if (cameraOpen && pDriver && record(fromEdit)) pDriver->setSharpness((*record(fromEdit))[16 + data.cameraIndex]);
}

void CameraStation::SetContrast(bool fromEdit)
{
    if (cameraOpen && pDriver && record(fromEdit)) pDriver->setContrast((*record(fromEdit))[24 + data.cameraIndex]);
}

void CameraStation::SetGamma(bool fromEdit)
{
    if (cameraOpen && pDriver && record(fromEdit)) pDriver->setGamma((*record(fromEdit))[32 + data.cameraIndex]);
}

void CameraStation::SetMirror(bool fromEdit)
{
    if (cameraOpen && pDriver && record(fromEdit)) {
        const SystemParam& p = *record(fromEdit);
        pDriver->setMirror(p[40 + data.cameraIndex] != 0, p[48 + data.cameraIndex] != 0);
    }
}

void CameraStation::SetAutoWDR(bool fromEdit)
{
    if (cameraOpen && pDriver && record(fromEdit)) pDriver->setWideDynamicRange(record(fromEdit)->autoShading() != 0);
}

void CameraStation::SetTriggerMode(int mode)
{
    if (cameraOpen && pDriver) pDriver->setTriggerMode(mode != 0);
}

void CameraStation::OnceWhiteBalance()
{
    if (cameraOpen && pDriver && colourMode()) pDriver->oneShotWhiteBalance();
}

void CameraStation::RestartGrab(int)
{
    if (!cameraOpen || !pDriver || !gpSystemParam) {
        return;
    }
    grabbing = false;
    pDriver->stopGrab();
    pDriver->setFrameRate(gpSystemParam->grabSpeed());
    if (cameraOpen) {
        grabbing = true;
        pDriver->startGrab();
    }
}

void CameraStation::StopGrab()
{
    if (cameraOpen && pDriver) {
        grabbing = false;
        pDriver->stopGrab();
    }
}

void CameraStation::CloseCamera()
{
    if (cameraOpen && pDriver) {
        pDriver->close();
        cameraOpen = false;
    }
}

void CameraStation::LoadCameraDefaults()
{
    if (pDriver && gpSystemParamEdit) {
        pDriver->loadDefaults(gpSystemParamEdit->value, data.cameraIndex);
    }
}

int CameraStation::GetROITemperature(int d, int i)
{
    return readTemperature(d, i).value_or(0);
}

std::optional<int> CameraStation::readTemperature(int d, int i)
{
    if (!pDriver) {
        return std::nullopt;
    }
    const QJsonObject request{{QStringLiteral("detect"), d}, {QStringLiteral("funcNO"), i}};
    // Invalid until the camera answers: a failed read must never look like 0 °C.
    QVariant reply;
    pDriver->query(QVariant(request), reply, 0);
    if (!reply.isValid()) {
        return std::nullopt;
    }
    bool ok = false;
    const int value = reply.toInt(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

void CameraStation::SendROIParaToCamera()
{
    if (isThermal && pDriver) {
        pDriver->setDetectConfig(QVariant::fromValue(pLiveSingleton.get()), 0);
    }
}

// ---------------------------------------------------------------- area sets

void CameraStation::CopyMaskToEdit()
{
    const int detects = std::min(gDetectCount, DetectCount);
    for (int d = 0; d < detects; ++d) {
        for (int k = 0; k < StationData::AreasPerDetect; ++k) {
            data.editRoiMasks[d * StationData::AreasPerDetect + k] = data.roiMasks[d * StationData::AreasPerDetect + k];
        }
        editIgnoreMasks[d] = data.ignoreMasks[d];
    }
}

void CameraStation::CopyMaskToLive()
{
    if (!gpSystemParam) {
        return;
    }
    const SystemParam& p = *gpSystemParam;
    const int detects = std::min(gDetectCount, DetectCount);
    for (int d = 0; d < detects; ++d) {
        const bool follows = p.syncCavityParams() != 0
                             && ((p.systemFunction() == 0 && p[119] != 0 && (d % 2) == 1)
                                 || ((p.systemFunction() == 1 || p.systemFunction() == 2) && d > 1));
        if (follows) {
            continue;
        }
        for (int k = 0; k < StationData::AreasPerDetect; ++k) {
            data.roiMasks[d * StationData::AreasPerDetect + k] = data.editRoiMasks[d * StationData::AreasPerDetect + k];
        }
    }
}

void CameraStation::copyDetect(int a, int b)
{
    CammerSingleton& live = *pLiveSingleton;
    while (live.roiLists.size() <= std::max(a, b)) {
        live.roiLists.append(QList<ROIInterface*>());
    }
    live.roiCount[b] = live.roiCount[a];
    clearROIList(live.roiLists[b]);
    QList<ROIInterface*> clones;
    for (const ROIInterface* shape : live.roiLists[a]) {
        clones.append(cloneROI(*shape));
    }
    live.roiLists[b] = clones;
    const int n = std::min(live.roiCount[a], StationData::AreasPerDetect);
    for (int j = 0; j < n; ++j) {
        if (j < clones.size()) {
            clones[j]->setSelected(false);
        }
        const int from = a * StationData::AreasPerDetect + j;
        const int to = b * StationData::AreasPerDetect + j;
        data.roiMasks[to] = data.roiMasks[from];
        live.roiShapeType[to] = live.roiShapeType[from];
        live.roiParam[to] = live.roiParam[from];
        live.roiLower[to] = live.roiLower[from];
        live.roiUpper[to] = live.roiUpper[from];
        live.roiFunction[to] = live.roiFunction[from];
    }
}

void CameraStation::CopyPara()
{
    if (!gpSystemParam) {
        return;
    }
    switch (gpSystemParam->systemFunction()) {
    case 0:
        copyDetect(0, 1);
        break;
    case 1:
    case 2:
        copyDetect(1, 3);
        copyDetect(0, 2);
        break;
    default:
        break;
    }
}

void CameraStation::setFirstAreaParams(int slot, int n, int d)
{
    CammerSingleton& edit = *pEditSingleton;
    if (n > 0) {
        edit.roiParam[slot] = edit.roiParam[slot - 1];
        edit.roiLower[slot] = edit.roiLower[slot - 1];
        edit.roiUpper[slot] = edit.roiUpper[slot - 1];
        edit.roiFunction[slot] = edit.roiFunction[slot - 1];
    } else {
        const SystemParam* p = gpSystemParam;
        const bool thermalOk = isThermal || isSimulated;
        const AreaSettings first = firstAreaSettings([p, thermalOk](int function) {
            if (!p) return false;
            switch (function) {
            case FuncSpot: return p->algoSpot() != 0;
            case FuncBlackArea: return p->algoBlackArea() != 0;
            case FuncWhiteArea: return p->algoWhiteArea() != 0;
            case FuncSimilarity: return p->algoSimilarity() != 0;
            case FuncWhiteNum: return p->algoWhiteCount() != 0;
            case FuncTempAlarm: return p->tempAlarm() != 0 && thermalOk;
            default: return false;
            }
        });
        edit.roiFunction[slot] = first.function;
        edit.roiParam[slot] = first.param;
        edit.roiLower[slot] = first.lower;
        edit.roiUpper[slot] = first.upper;
    }
    data.roiValue[slot] = 0;
    if (d == 0) {
        edit.roiOutput[n] = 0;
    }
}

void CameraStation::SaveNewROI()
{
    if (!drawingShape) {
        return;
    }
    const int d = editDetect();
    CammerSingleton& edit = *pEditSingleton;
    QList<ROIInterface*>& list = edit.roiLists[d];
    const int n = list.size();
    if (n >= StationData::AreasPerDetect) {
        return; // its callers test the limit; never write past the detect's sampleSlots
    }
    ROIInterface* shape = drawingShape;
    drawingShape = nullptr;
    *static_cast<QRect*>(shape) = shape->normalized();
    const int slot = d * StationData::AreasPerDetect + n;
    data.editRoiMasks[slot] = shape->createMask();
    edit.roiShapeType[slot] = shape->type();
    shape->setSelected(true);
    shape->updateBounds();
    list.append(shape);
    setFirstAreaParams(slot, n, d);
    edit.roiCount[d] = list.size();
    selectedRoi = edit.roiCount[d] - 1;
}

void CameraStation::SavePolygon()
{
    const OperatingState* op = operatingState();
    const int mode = op ? int(op->drawMode()) : int(DrawPolygon);
    if (!polygonDrawing || editAction != 1 || mode != DrawPolygon) {
        return;
    }
    const int d = editDetect();
    CammerSingleton& edit = *pEditSingleton;
    if (edit.roiCount[d] >= StationData::AreasPerDetect) {
        warnOperator(textOf(36));
        return;
    }
    if (pointCount < 3) {
        return;
    }
    pointCount = std::min(pointCount, MaxPolygonPoints - 1);
    const int n = edit.roiCount[d];
    const int slot = d * StationData::AreasPerDetect + n;
    setFirstAreaParams(slot, n, d);
    auto* polygon = new RePolygon(pointCount, polygonPoints.data());
    polygon->updateBounds();
    polygon->setSelected(true);
    edit.roiLists[d].append(polygon);
    data.editRoiMasks[slot] = polygon->createMask();
    edit.roiShapeType[slot] = 2;
    edit.roiCount[d] = edit.roiLists[d].size();
    selectedRoi = edit.roiCount[d] - 1;
    polygonDrawing = false;
    editAction = 0;
    setDrawMode(0);
    pointCount = 0;
    UpdateParaPanel();
    repaintStation();
}

void CameraStation::DeleteROI(int i)
{
    const int d = editDetect();
    CammerSingleton& edit = *pEditSingleton;
    QList<ROIInterface*>& list = edit.roiLists[d];
    // An index outside the detect's areas (-1 with nothing selected) would
    // shift the sampleSlots before the detect's first one: nothing to delete.
    if (i < 0 || i >= edit.roiCount[d] || i >= list.size()) {
        return;
    }
    const int base = d * StationData::AreasPerDetect;
    for (int j = i; j <= edit.roiCount[d] - 2; ++j) {
        data.editRoiMasks[base + j] = data.editRoiMasks[base + j + 1];
        edit.roiParam[base + j] = edit.roiParam[base + j + 1];
        edit.roiShapeType[base + j] = edit.roiShapeType[base + j + 1];
        edit.roiLower[base + j] = edit.roiLower[base + j + 1];
        edit.roiUpper[base + j] = edit.roiUpper[base + j + 1];
        edit.roiFunction[base + j] = edit.roiFunction[base + j + 1];
        if (d == 0) {
            edit.roiOutput[j] = edit.roiOutput[j + 1];
        }
    }
    ROIInterface* shape = list.takeAt(i);
    edit.roiCount[d] = list.size();
    const QRect box = QRect(shape->topLeft(), shape->bottomRight()).normalized()
                          .intersected(QRect(0, 0, data.imageWidth, data.imageHeight));
    delete shape;
    // The edit picture only: the live picture and its file follow a confirmed
    // save (CommitIgnoreMask), so a declined save loses nothing.
    std::vector<uchar>& mask = editIgnoreMasks[d];
    if (mask.size() != data.ignoreMasks[d].size()) {
        mask = data.ignoreMasks[d];
    }
    if (mask.size() == std::size_t(data.pixelCount)) {
        for (int y = box.top(); y <= box.bottom(); ++y) {
            std::memset(mask.data() + std::size_t(y) * std::size_t(data.imageWidth) + std::size_t(box.left()), 0,
                        std::size_t(box.width()));
        }
    }
}

void CameraStation::ClearSelection()
{
    polygonDrawing = false;
    editAction = 0;
    pointCount = 0;
    delete drawingShape;
    drawingShape = nullptr;
    setDrawMode(0);
    if (selectedRoi != -1) {
        const int d = editDetect();
        QList<ROIInterface*>& list = pEditSingleton->roiLists[d];
        if (selectedRoi >= 0 && selectedRoi < list.size()) {
            list[selectedRoi]->setSelected(false);
        }
        selectedRoi = -1;
    }
}

bool CameraStation::FindSelectedROI()
{
    const QList<ROIInterface*>& list = pEditSingleton->roiLists[editDetect()];
    for (int i = 0; i < list.size(); ++i) {
        if (list[i]->isSelected()) {
            selectedRoi = i;
            return true;
        }
    }
    return false;
}

void CameraStation::UpdateParaPanel()
{
    if (paraPanelHandler) {
        paraPanelHandler();
    } else {
        repaintStation();
    }
}

// ---------------------------------------------------------------- probe

QPoint CameraStation::framePoint(int x, int y) const
{
    StationHost* host = stationHost();
    const double offX = host ? host->panX() : 0.0;
    const double offY = host ? host->panY() : 0.0;
    const double zoomX = host ? host->zoomX() : 1.0;
    const double zoomY = host ? host->zoomY() : 1.0;
    const double px = (x - offX) / (double(imageScaleX) * zoomX);
    const double py = (y - offY) / (double(imageScaleY) * zoomY);
    auto toInt = [](double v) {
        if (!std::isfinite(v)) return -1;
        v = std::trunc(v);
        return v < -1e9 ? -1 : v > 1e9 ? -1 : int(v);
    };
    return QPoint(toInt(px), toInt(py));
}

void CameraStation::ProbePixel(int x, int y)
{
    const QPoint p = framePoint(x, y);
    StationHost* host = stationHost();
    if (host) {
        host->setProbe(p.x(), p.y());
    }
    if (p.x() < 0 || p.y() < 0 || p.x() >= data.imageWidth || p.y() >= data.imageHeight) {
        return;
    }
    const std::size_t index = std::size_t(p.y()) * std::size_t(data.imageWidth) + std::size_t(p.x());
    quint32 value = 0;
    if (colourMode()) {
        std::memcpy(&value, data.displayBuffer.data() + 4 * index, 4);
    } else {
        value = data.displayBuffer[index];
    }
    if (host) {
        host->setProbeValue(value);
    }
}

// ---------------------------------------------------------------- peers

int CameraStation::currentDetect()
{
    StationHost* host = stationHost();
    return host ? host->detectRunning() : 0;
}

void CameraStation::insertRecord(const QString& text)
{
    if (StationHost* host = stationHost()) {
        host->insertRecord(text);
    } else {
        qWarning().noquote() << text;
    }
}

void CameraStation::appendCycleValue(int value)
{
    if (StationHost* host = stationHost()) {
        host->appendCycleValue(value);
    }
}

std::optional<int> CameraStation::roiTemperature(int detect, int area)
{
    return readTemperature(detect, area);
}

DetectResult CameraStation::currentResult()
{
    return currentRecordsResult();
}

void CameraStation::handOverResult(const DetectResult& result)
{
    handOverToRecords(result);
}

void CameraStation::stampCamera()
{
    DetectResult record = currentRecordsResult();
    record.idx_camera = data.cameraIndex;
    setRecordsResult(record);
}

void CameraStation::repaintStation()
{
    if (repaintHandler) {
        repaintHandler();
    }
}
