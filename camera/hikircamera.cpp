#include "hikircamera.h"

#include "cammersingleton.h"
#include "networkdefaults.h"
#include "roiinterface.h"
#include "systemparam.h"

#include <QJsonObject>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

QMap<int, HikIRCamera*> HikIRCamera::portMap;
std::mutex HikIRCamera::portMapMutex;
QMap<int, QSize> HikIRCamera::resolutionTable;
char HikIRCamera::localAddresses[16][16] = {};
int HikIRCamera::localAddressCount = 0;

namespace {

// Configuration commands of the device library.
constexpr uint32_t kCmdDeviceConfig = 100;
constexpr uint32_t kCmdImageEnhanceGet = 3368;
constexpr uint32_t kCmdImageEnhanceSet = 3369;
constexpr uint32_t kCmdStreamConfig = 3216;
constexpr uint32_t kCmdRealtimeThermometry = 6766;
constexpr uint32_t kCmdBasicParamsGet = 3621;
constexpr uint32_t kCmdBasicParamsSet = 3622;
constexpr uint32_t kCmdThermometryMode = 3305;
constexpr uint32_t kCmdCcdParams = 1002;
constexpr uint32_t kCmdPresetGet = 3624;
constexpr uint32_t kCmdPresetSet = 3625;
constexpr uint32_t kCmdRuleTemperature = 23001;

constexpr int kRuleBytes = 204;
constexpr int kRulesOffset = 8;
constexpr int kRuleCount = 40;

// The one place that knows how the system logs in to the camera; the
// password is never logged.
constexpr char kLoginUser[] = "admin";
constexpr char kLoginPassword[] = "qrst5678";
constexpr uint16_t kLoginPort = 8000;

void fillLogin(NET_DVR_LOGIN_RECORD& login, const QByteArray& address)
{
    std::memset(&login, 0, sizeof login);
    std::memcpy(login.address, address.constData(), std::min<std::size_t>(sizeof login.address - 1, std::size_t(address.size())));
    login.port = kLoginPort;
    std::memcpy(login.userName, kLoginUser, sizeof kLoginUser);
    std::memcpy(login.password, kLoginPassword, sizeof kLoginPassword);
    login.asynchronous = 0;
}

void put16(unsigned char* at, quint16 value)
{
    std::memcpy(at, &value, 2);
}

void put32(unsigned char* at, quint32 value)
{
    std::memcpy(at, &value, 4);
}

void putFloat(unsigned char* at, float value)
{
    std::memcpy(at, &value, 4);
}

quint32 get32(const unsigned char* at)
{
    quint32 value;
    std::memcpy(&value, at, 4);
    return value;
}

float getFloat(const unsigned char* at)
{
    float value;
    std::memcpy(&value, at, 4);
    return value;
}

quint16 high16(qint32 value)
{
    return quint16(quint32(value) >> 16);
}

quint16 low16(qint32 value)
{
    return quint16(quint32(value) & 0xFFFF);
}

// The resolution code from the stream configuration's reply.
int resolutionCode(const unsigned char* reply)
{
    const quint32 wide = get32(reply + 36);
    return wide >= 255 ? int(wide) : int(reply[9]);
}

} // namespace

// ---------------------------------------------------------------- thread

HKHotCameraThread::HKHotCameraThread(HikIRCamera* owner) : QThread(owner), camera(owner) {}

void HKHotCameraThread::setRunFlag()
{
    std::lock_guard<std::mutex> lock(pauseMutex);
    running = true;
}

void HKHotCameraThread::requestStop()
{
    std::lock_guard<std::mutex> lock(pauseMutex);
    running = false;
    pauseWake.notify_all();
}

bool HKHotCameraThread::pause(int ms)
{
    std::unique_lock<std::mutex> lock(pauseMutex);
    return !pauseWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !running.load(); });
}

void HKHotCameraThread::run()
{
    // The first pictures of a stream settle before the first pass.
    if (!pause(HikIRCamera::FirstPassDelayMs)) {
        return;
    }
    while (running.load()) {
        camera->convertWaitingPicture();
        if (!pause(HikIRCamera::PassIntervalMs)) {
            return;
        }
    }
}

// ---------------------------------------------------------------- driver

HikIRCamera::HikIRCamera()
{
    serialText.clear();
}

HikIRCamera::HikIRCamera(const CameraInfo& record)
{
    cameraInfo = record;
    serialText = record.idText();
    m_cameraNumber = record.number;
}

HikIRCamera::~HikIRCamera()
{
    close();
}

bool HikIRCamera::findInfraredCameras(QList<CameraInfo>& list, int& count)
{
    list.clear();
    NET_DVR_Init();
    std::memset(localAddresses, 0, sizeof localAddresses);
    localAddressCount = 0;
    uint32_t reported = 0;
    BOOL bind = 0;
    if (!NET_DVR_GetLocalIP(localAddresses, &reported, &bind)) {
        qInfo("NET_DVR_GET_THERMOMETRY_BASICPARAM failed, error code: %u", NET_DVR_GetLastError());
        return false;
    }
    localAddressCount = int(std::min<uint32_t>(reported, 16));
    count = 0;
    for (int i = 0; i < localAddressCount; ++i) {
        QList<CameraInfo> found;
        if (!probeInfraredCamera(i, found)) {
            continue;
        }
        for (CameraInfo& record : found) {
            record.number = count++;
            list.append(record);
        }
    }
    if (list.isEmpty()) {
        NET_DVR_Cleanup();
    }
    buildResolutionTable();
    return true;
}

bool HikIRCamera::probeInfraredCamera(int index, QList<CameraInfo>& list)
{
    NET_DVR_SetValidIP(uint32_t(index), 0);
    // The library's address fields need not end in a NUL.
    const QString local = QString::fromLatin1(localAddresses[index], int(strnlen(localAddresses[index], 16)));
    const QStringList parts = local.split(QLatin1Char('.'));
    if (parts.size() < 3) {
        return false;
    }
    bool ok = false;
    const int third = parts.at(2).toInt(&ok);
    const QString candidate = ok ? infraredCandidate(third) : QString();
    if (candidate.isEmpty()) {
        qInfo("Infrared camera: local address %s gives no candidate address", qUtf8Printable(local));
        return false;
    }
    if (!infraredCandidateAllowed(candidate)) {
        qInfo("Infrared camera: candidate %s lies outside the loopback network and is skipped",
              qUtf8Printable(candidate));
        return false;
    }
    NET_DVR_LOGIN_RECORD login;
    fillLogin(login, candidate.toLatin1());
    NET_DVR_DEVICE_RECORD device;
    std::memset(&device, 0, sizeof device);
    const int32_t user = NET_DVR_Login_V40(&login, &device);
    if (user < 0) {
        qInfo("Login DVR failed ..., error code: %u", NET_DVR_GetLastError());
        return false;
    }
    CameraInfo record;
    record.index = -1;
    record.number = -1;
    record.iid = QString::fromLatin1(kHikIRCameraIid);
    record.setId(reinterpret_cast<const char*>(device.serialNumber), sizeof device.serialNumber);
    record.setAddress(candidate);
    record.channelName = QStringLiteral("IRCamera");
    list.append(record);

    unsigned char config[NET_DVR_DEVICECFG_BYTES] = {};
    uint32_t returned = 0;
    if (NET_DVR_GetDVRConfig(user, kCmdDeviceConfig, 1, config, sizeof config, &returned) && config[124] == 2) {
        record.channelName = QStringLiteral("RGBCamera");
        list.append(record);
    }
    NET_DVR_Logout(user);
    return true;
}

void HikIRCamera::buildResolutionTable()
{
    resolutionTable.clear();
    resolutionTable.insert(1, QSize(352, 288));
    resolutionTable.insert(3, QSize(704, 576));
    resolutionTable.insert(12, QSize(384, 288));
    resolutionTable.insert(16, QSize(640, 480));
    resolutionTable.insert(17, QSize(1600, 1200));
    resolutionTable.insert(18, QSize(800, 600));
    resolutionTable.insert(19, QSize(1280, 720));
    resolutionTable.insert(20, QSize(1280, 960));
    resolutionTable.insert(76, QSize(640, 512));
    resolutionTable.insert(98, QSize(2688, 1520));
}

QList<CameraInfo> HikIRCamera::enumerate()
{
    {
        std::lock_guard<std::mutex> lock(portMapMutex);
        portMap.clear();
    }
    QList<CameraInfo> list;
    int count = 0;
    findInfraredCameras(list, count);
    NET_DVR_SetLogToFile(0, "./sdkLog1", 0);
    NET_DVR_SetLogPrint(0);
    return list;
}

int HikIRCamera::deviceCount()
{
    return 3;
}

CameraInterface* HikIRCamera::create(CameraInfo record)
{
    return new HikIRCamera(record);
}

bool HikIRCamera::open()
{
    NET_DVR_SetConnectTime(2000, 1);
    NET_DVR_SetReconnect(10000, 1);
    NET_DVR_LOGIN_RECORD login;
    fillLogin(login, QByteArray(cameraInfo.address, int(strnlen(cameraInfo.address, sizeof cameraInfo.address))));
    NET_DVR_DEVICE_RECORD device;
    std::memset(&device, 0, sizeof device);
    userId = NET_DVR_Login_V40(&login, &device);
    if (userId < 0) {
        qInfo("%s", qUtf8Printable(QStringLiteral("Login DVR failed ... LastError[%1]").arg(NET_DVR_GetLastError())));
        return false;
    }
    unsigned char config[NET_DVR_DEVICECFG_BYTES] = {};
    uint32_t returned = 0;
    if (NET_DVR_GetDVRConfig(userId, kCmdDeviceConfig, 1, config, sizeof config, &returned) && config[124] == 2) {
        if (cameraInfo.channelName == QLatin1String("RGBCamera")) {
            m_channel = 1;
            channelKind = 1;
        } else {
            m_channel = 2;
            channelKind = 2;
        }
    }
    rewriteDvrConfig(kCmdImageEnhanceGet, NET_DVR_IMAGE_ENHANCE_BYTES, [](unsigned char* record) { record[28] = 0; });

    unsigned char condition[NET_DVR_STREAM_CONDITION_BYTES] = {};
    put32(condition, NET_DVR_STREAM_CONDITION_BYTES);
    put32(condition + 4, 72);  // the stream record inside the condition
    put32(condition + 40, quint32(m_channel));
    // Byte 44 onwards: the main stream (0).
    unsigned char reply[NET_DVR_STREAM_REPLY_BYTES] = {};
    unsigned char status[4] = {};
    int code = -1;
    if (NET_DVR_GetDeviceConfig(userId, kCmdStreamConfig, 1, condition, sizeof condition, status, reply,
                                sizeof reply)) {
        code = resolutionCode(reply);
    }
    m_thread = new HKHotCameraThread(this);
    const auto size = resolutionTable.constFind(code);
    if (size != resolutionTable.constEnd()) {
        width = size->width();
        height = size->height();
    }
    pixelCount = width * height;
    m_frameBytes = colorOutput ? pixelCount * 4 : pixelCount;
    statusBuffer.assign(StatusBytes, 0);
    hand.allocate(m_frameBytes);
    {
        std::lock_guard<std::mutex> lock(decodedMutex);
        decoded.assign(std::size_t(pixelCount) * 4, 0);
        pictureWaiting = false;
    }
    converting.assign(std::size_t(pixelCount) * 4, 0);
    converted.assign(std::size_t(m_frameBytes), 0);
    if (channelKind == 2) {
        configureThermometry();
    }
    return true;
}

bool HikIRCamera::startGrab()
{
    if (m_realPlayHandle >= 0) {
        return true;
    }
    if (!m_thread) {
        return false;
    }
    NET_DVR_PREVIEW_RECORD preview;
    std::memset(&preview, 0, sizeof preview);
    preview.channel = m_channel;
    preview.streamType = 0;
    preview.linkMode = 0;
    preview.window = nullptr;
    preview.blocked = 0;
    const int32_t handle = NET_DVR_RealPlay_V40(userId, &preview, &HikIRCamera::realPlayCallback, this);
    if (handle < 0) {
        qInfo("%s", qUtf8Printable(QStringLiteral("Login DVR failed ... LastError[%1]").arg(NET_DVR_GetLastError())));
        return false;
    }
    m_realPlayHandle = handle;
    m_thread->setRunFlag();
    m_thread->start(QThread::InheritPriority);
    return true;
}

void HikIRCamera::stopGrab()
{
    if (m_realPlayHandle < 0) {
        return;
    }
    // No stream data after this returns: the port below is ours alone.
    NET_DVR_StopRealPlay(m_realPlayHandle);
    m_realPlayHandle = -1;
    const int port = m_decoderPort.exchange(-1);
    if (port >= 0) {
        // The entry goes before the port is freed, and only while it is ours:
        // once freed, the port may be taken by another channel whose entry
        // must stay.
        {
            std::lock_guard<std::mutex> lock(portMapMutex);
            const auto it = portMap.find(port);
            if (it != portMap.end() && it.value() == this) {
                portMap.erase(it);
            }
        }
        PlayM4_Stop(port);
        PlayM4_CloseStream(port);
        PlayM4_FreePort(port);
    }
    if (m_thread) {
        // A quick restart must not find the thread still ending: start would
        // then do nothing and the channel stay dark.
        m_thread->requestStop();
        m_thread->wait();
    }
}

void HikIRCamera::close()
{
    stopGrab();
    if (userId >= 0) {
        NET_DVR_Logout(userId);
        userId = -2;
    }
    if (m_thread) {
        m_thread->requestStop();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
}

void HikIRCamera::release() {}

bool HikIRCamera::pictureArrivedSincePoll()
{
    return pictureSincePoll.exchange(false);
}

bool HikIRCamera::reconnect()
{
    const bool arrived = pictureArrivedSincePoll();
    if (arrived) {
        watchdogCount = 0;
    }
    return arrived;
}

bool HikIRCamera::isOnline()
{
    // A converted picture since the previous poll restarts the count: only
    // polls in a row without pictures declare the camera lost.
    const bool arrived = pictureArrivedSincePoll();
    if (arrived) {
        watchdogCount = 0;
    }
    ++watchdogCount;
    if (watchdogCount >= 3) {
        return false;
    }
    return arrived;
}

void HikIRCamera::realPlayCallback(int32_t, uint32_t dataType, unsigned char* data, uint32_t size, void* user)
{
    auto* camera = static_cast<HikIRCamera*>(user);
    if (!camera) {
        return;
    }
    if (dataType == NET_DVR_SYSHEAD) {
        if (camera->m_decoderPort.load() >= 0) {
            return;
        }
        int32_t port = -1;
        if (!PlayM4_GetPort(&port)) {
            return;
        }
        camera->m_decoderPort = port;
        if (size == 0) {
            return;
        }
        if (!PlayM4_SetStreamOpenMode(port, PLAYM4_STREAM_REALTIME)) {
            return;
        }
        if (!PlayM4_OpenStream(port, data, size, StreamBufferBytes)) {
            return;
        }
        if (!PlayM4_SetDisplayCallBackEx(port, &HikIRCamera::displayCallback, -1)) {
            return;
        }
        if (!PlayM4_SetDisplayBuf(port, 1)) {
            return;
        }
        // Mapped before playing, so the first picture finds its driver.
        {
            std::lock_guard<std::mutex> lock(portMapMutex);
            portMap[port] = camera;
        }
        if (!PlayM4_Play(port, nullptr)) {
            qInfo("Infrared camera: decoder error %u", PlayM4_GetLastError(port));
            std::lock_guard<std::mutex> lock(portMapMutex);
            const auto it = portMap.find(port);
            if (it != portMap.end() && it.value() == camera) {
                portMap.erase(it);
            }
        }
        return;
    }
    if (dataType == NET_DVR_STREAMDATA && size > 0) {
        const int port = camera->m_decoderPort.load();
        if (port < 0) {
            return;
        }
        if (!PlayM4_InputData(port, data, size) && PlayM4_GetLastError(port) == PLAYM4_BUF_OVER) {
            // The decoder is behind; give it a moment. The chunk is dropped.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}

void HikIRCamera::displayCallback(PLAYM4_DISPLAY_INFO* info)
{
    if (!info) {
        return;
    }
    // Held while the picture is copied: stopGrab takes the entry out under
    // it, so a driver being stopped is never written to afterwards.
    std::lock_guard<std::mutex> lock(portMapMutex);
    const auto it = portMap.constFind(info->port);
    if (it == portMap.constEnd()) {
        return;
    }
    it.value()->takePicture(*info);
}

void HikIRCamera::takePicture(const PLAYM4_DISPLAY_INFO& info)
{
    const qint64 expected = qint64(width) * qint64(height) * 3 / 2;
    if (info.width != width || info.height != height || info.bufferBytes != expected || !info.buffer) {
        // Converting it would mix the previous picture's tail into it.
        if (!sizeMismatchLogged.exchange(true)) {
            qWarning("Infrared camera %s: decoded picture of %d x %d (%d bytes) dropped, the stream is %d x %d",
                     qUtf8Printable(serialText), info.width, info.height, info.bufferBytes, width, height);
        }
        return;
    }
    std::lock_guard<std::mutex> lock(decodedMutex);
    std::memcpy(decoded.data(), info.buffer, std::min<std::size_t>(decoded.size(), std::size_t(expected)));
    pictureWaiting = true;
}

bool HikIRCamera::convertWaitingPicture()
{
    {
        std::lock_guard<std::mutex> lock(decodedMutex);
        if (!pictureWaiting) {
            return false;
        }
        // The decoder writes the next picture into the other buffer meanwhile.
        decoded.swap(converting);
        pictureWaiting = false;
    }
    const std::size_t sourceBytes = std::size_t(pixelCount) * 3 / 2;
    const bool ok = colorOutput ? yv12ToBgra(converting.data(), sourceBytes, converted.data(), width, height, false)
                                : yv12ToGray(converting.data(), sourceBytes, converted.data(), width, height, false);
    if (!ok) {
        return false;
    }
    // The watchdog's flag goes up with the frame, under its lock: whoever
    // got the frame finds the flag up.
    return hand.deliverWith([this](unsigned char* buffer, int bytes) {
        if (std::size_t(bytes) != converted.size()) {
            return false;
        }
        std::memcpy(buffer, converted.data(), converted.size());
        pictureSincePoll = true;
        return true;
    });
}

QJsonObject HikIRCamera::autoAdjust(bool on)
{
    if (on) {
        NET_DVR_FocusOnePush(userId, m_channel);
    }
    return QJsonObject();
}

void HikIRCamera::setExposure(int value)
{
    applyThermometryParam(0, value);
}

void HikIRCamera::setGain(int value)
{
    applyThermometryParam(1, value);
}

void HikIRCamera::setSharpness(int value)
{
    applyThermometryParam(2, value);
}

void HikIRCamera::setContrast(int value)
{
    applyThermometryParam(3, value);
}

void HikIRCamera::setGamma(int value)
{
    applyThermometryParam(4, value);
}

void HikIRCamera::setWideDynamicRange(bool) {}
void HikIRCamera::oneShotWhiteBalance() {}
void HikIRCamera::setAutoExposure(bool) {}

void HikIRCamera::setColorOutput(bool on)
{
    colorOutput = on;
    m_frameBytes = on ? pixelCount * 4 : pixelCount;
}

void HikIRCamera::setDisplayWindow(QWidget* window)
{
    displayWidget = window;
    windowId = window ? quintptr(window->winId()) : 0;
}

void HikIRCamera::setMirror(bool, bool) {}
void HikIRCamera::setFrameRate(int) {}

void HikIRCamera::setDetectConfig(QVariant config, int flag)
{
    if (flag != 0 || !config.canConvert<CammerSingleton*>()) {
        return;
    }
    uploadPresets(config.value<CammerSingleton*>());
}

void HikIRCamera::query(QVariant request, QVariant& reply, int flag)
{
    if (flag != 0) {
        return;
    }
    QJsonObject object;
    if (request.userType() == QMetaType::QJsonObject) {
        object = request.toJsonObject();
    } else if (request.userType() == QMetaType::QVariantMap) {
        object = QJsonObject::fromVariantMap(request.toMap());
    }
    const int detect = object.value(QStringLiteral("detect")).toInt(0);
    const int area = object.value(QStringLiteral("funcNO")).toInt(0);
    const std::optional<int> t = roiTemperature(detect, area);
    reply = t ? QVariant(*t) : QVariant();
}

bool HikIRCamera::takeFrameCount(int& frames)
{
    return hand.takeFrameCount(frames);
}

void HikIRCamera::setTriggerMode(bool) {}
void HikIRCamera::softTrigger() {}

void HikIRCamera::getSize(int& w, int& h)
{
    w = width;
    h = height;
}

QString HikIRCamera::typeId()
{
    return QString::fromLatin1(kHikIRCameraIid);
}

QString HikIRCamera::serial()
{
    return serialText;
}

bool HikIRCamera::getFrame(void* destination)
{
    return hand.getFrame(destination);
}

void HikIRCamera::loadDefaults(int*, int) {}

int HikIRCamera::spectrum()
{
    return channelKind;
}

// ---------------------------------------------------------------- thermometry

qint32 HikIRCamera::cameraSlot(int first) const
{
    if (!gpSystemParam || m_cameraNumber < 0 || m_cameraNumber >= 8) {
        qWarning("Infrared camera %s: camera number %d has no settings", qUtf8Printable(serialText), m_cameraNumber);
        return 0;
    }
    return (*gpSystemParam)[first + m_cameraNumber];
}

bool HikIRCamera::getChannelConfig(uint32_t command, void* output, uint32_t bytes)
{
    int32_t channelCondition = m_channel;
    NET_DVR_STD_REQUEST request{};
    request.condition = &channelCondition;
    request.conditionBytes = sizeof channelCondition;
    request.output = output;
    request.outputBytes = bytes;
    statusBuffer.resize(StatusBytes);
    request.status = statusBuffer.data();
    request.statusBytes = StatusBytes;
    return NET_DVR_GetSTDConfig(userId, command, &request) != 0;
}

bool HikIRCamera::setChannelConfig(uint32_t command, void* input, uint32_t bytes)
{
    int32_t channelCondition = m_channel;
    NET_DVR_STD_REQUEST request{};
    request.condition = &channelCondition;
    request.conditionBytes = sizeof channelCondition;
    request.input = input;
    request.inputBytes = bytes;
    statusBuffer.resize(StatusBytes);
    request.status = statusBuffer.data();
    request.statusBytes = StatusBytes;
    return NET_DVR_SetSTDConfig(userId, command, &request) != 0;
}

template <typename Edit>
void HikIRCamera::rewriteDvrConfig(uint32_t command, uint32_t bytes, Edit&& edit)
{
    std::vector<unsigned char> record(bytes, 0);
    uint32_t returned = 0;
    if (!NET_DVR_GetDVRConfig(userId, command, m_channel, record.data(), bytes, &returned)) {
        // Writing back a record that was never read would overwrite the
        // camera's settings with zeros.
        qInfo("Infrared camera %s: configuration %u not read, error code: %u", qUtf8Printable(serialText), command,
              NET_DVR_GetLastError());
        return;
    }
    edit(record.data());
    put32(record.data(), bytes);
    if (!NET_DVR_SetDVRConfig(userId, command + 1, m_channel, record.data(), bytes)) {
        qInfo("Infrared camera %s: configuration %u not written, error code: %u", qUtf8Printable(serialText),
              command + 1, NET_DVR_GetLastError());
    }
}

bool HikIRCamera::readBasicParams(unsigned char* record)
{
    if (getChannelConfig(kCmdBasicParamsGet, record, NET_DVR_THERMOMETRY_BASICPARAM_BYTES)) {
        qInfo("测温基本参数配置 get is successful!");
        return true;
    }
    qInfo("测温基本参数配置 get failed, error code: %d\n", int(NET_DVR_GetLastError()));
    return false;
}

void HikIRCamera::writeBasicParams(unsigned char* record)
{
    if (setChannelConfig(kCmdBasicParamsSet, record, NET_DVR_THERMOMETRY_BASICPARAM_BYTES)) {
        qInfo("测温基本参数配置set is successful!");
    } else {
        qInfo("测温基本参数配置set failed, error code: %d\n", int(NET_DVR_GetLastError()));
    }
}

void HikIRCamera::configureThermometry()
{
    unsigned char on[NET_DVR_REALTIME_THERMOMETRY_BYTES] = {};
    put32(on, sizeof on);
    put16(on + 4, 1);
    if (!setChannelConfig(kCmdRealtimeThermometry, on, sizeof on)) {
        qInfo("测温基本参数配置set failed, error code: %u", NET_DVR_GetLastError());
    }
    unsigned char basic[NET_DVR_THERMOMETRY_BASICPARAM_BYTES] = {};
    if (readBasicParams(basic)) {
        put16(basic + 4, 1);
        basic[7] = static_cast<unsigned char>(qBound(0, cameraSlot(24), 2));
        basic[8] = 0;
        basic[11] = 0;
        basic[16] = 2;
        putFloat(basic + 12, 0.2f);
        put32(basic + 40, 28);
        basic[49] = 1;
        put16(basic + 50, 1);
        putFloat(basic + 52, 26.0f);
        std::memset(basic + 72, 1, 4);
        basic[84] = 255;
        writeBasicParams(basic);
    }
    rewriteDvrConfig(kCmdThermometryMode, NET_DVR_THERMOMETRY_MODE_BYTES,
                     [](unsigned char* record) { put16(record + 4, 2); });
    rewriteDvrConfig(kCmdCcdParams, NET_DVR_CCDPARAM_BYTES, [](unsigned char* record) {
        put32(record + 104, 0);
        put32(record + 7676, 0);
    });
}

void HikIRCamera::applyThermometryParam(int which, int value)
{
    if (userId < 0) {
        return;
    }
    if (channelKind == 1) {
        std::vector<unsigned char> record(NET_DVR_IMAGE_ENHANCE_BYTES, 0);
        uint32_t returned = 0;
        NET_DVR_GetDVRConfig(userId, kCmdImageEnhanceGet, m_channel, record.data(), uint32_t(record.size()), &returned);
        return;
    }
    unsigned char basic[NET_DVR_THERMOMETRY_BASICPARAM_BYTES] = {};
    if (!readBasicParams(basic)) {
        return;
    }
    if (which == 3) {
        basic[7] = static_cast<unsigned char>(qBound(0, value, 2));
    }
    writeBasicParams(basic);
}

void HikIRCamera::uploadPresets(CammerSingleton* set)
{
    std::memset(areaMode, 0, sizeof areaMode);
    std::memset(areaOffset, 0, sizeof areaOffset);
    std::memset(ruled, 0, sizeof ruled);
    if (!set || userId < 0) {
        return;
    }
    unsigned char condition[NET_DVR_PRESET_CONDITION_BYTES] = {};
    put32(condition, sizeof condition);
    put32(condition + 4, quint32(m_channel));
    put16(condition + 8, 1);
    std::vector<unsigned char> preset(NET_DVR_PRESETINFO_BYTES, 0);
    NET_DVR_STD_REQUEST request{};
    request.condition = condition;
    request.conditionBytes = sizeof condition;
    request.output = preset.data();
    request.outputBytes = uint32_t(preset.size());
    statusBuffer.resize(StatusBytes);
    request.status = statusBuffer.data();
    request.statusBytes = StatusBytes;
    if (NET_DVR_GetSTDConfig(userId, kCmdPresetGet, &request)) {
        qInfo("NET_DVR_SET_THERMOMETRY_PRESETINFO is successful!");
    } else {
        qInfo("NET_DVR_SET_THERMOMETRY_PRESETINFO failed, error code: %d\n", int(NET_DVR_GetLastError()));
        std::fill(preset.begin(), preset.end(), 0);
    }
    put32(preset.data(), NET_DVR_PRESETINFO_BYTES);
    put16(preset.data() + 4, 1);

    const quint16 distance = low16(cameraSlot(56));
    bool filled[MeasuredDetects][RulesPerDetect] = {};
    for (int d = 0; d < MeasuredDetects; ++d) {
        const int count = qBound(0, set->roiCount[d], int(AreasPerDetect));
        for (int a = 0; a < count && a < RulesPerDetect; ++a) {
            const int s = d * AreasPerDetect + a;
            if (set->roiFunction[s] != FuncTempAlarm || set->roiShapeType[s] != ROIRect) {
                continue;
            }
            const ROIInterface* shape =
                d < set->roiLists.size() && a < set->roiLists.at(d).size() ? set->roiLists.at(d).at(a) : nullptr;
            if (!shape) {
                qWarning("Infrared camera %s: temperature area %d of detect %d has no shape", qUtf8Printable(serialText),
                         a, d);
                continue;
            }
            areaMode[s] = high16(set->roiLower[s]);
            areaOffset[s] = qint16(high16(set->roiParam[s]));
            const int rule = d * RulesPerDetect + a;
            static_assert(kRulesOffset + kRuleCount * kRuleBytes <= NET_DVR_PRESETINFO_BYTES, "rules fit the record");
            unsigned char* entry = preset.data() + kRulesOffset + rule * kRuleBytes;
            entry[0] = 1;
            entry[1] = static_cast<unsigned char>(rule + 1);
            put16(entry + 2, distance);
            putFloat(entry + 4, float(low16(set->roiParam[s])) / 100.0f);
            entry[8] = 2;
            entry[11] = 1;
            // Signed, as the reflected temperature may be below zero.
            putFloat(entry + 12, float(qint16(high16(set->roiUpper[s]))));
            std::memset(entry + 16, 0, 32);
            const QByteArray name = QByteArray::number(a);
            std::memcpy(entry + 16, name.constData(), std::size_t(std::min(name.size(), 31)));
            entry[111] = static_cast<unsigned char>(d);
            const QRect bounds = *shape;
            const float w = float(width);
            const float h = float(height);
            if (d == 0) {
                putFloat(entry + 112, float((bounds.left() + bounds.right()) / 2.0) / w);
                putFloat(entry + 116, float((bounds.top() + bounds.bottom()) / 2.0) / h);
            } else {
                put32(entry + 120, 4);
                const float xs[4] = {float(bounds.left()), float(bounds.right()), float(bounds.right()),
                                     float(bounds.left())};
                const float ys[4] = {float(bounds.top()), float(bounds.top()), float(bounds.bottom()),
                                     float(bounds.bottom())};
                for (int i = 0; i < 4; ++i) {
                    putFloat(entry + 124 + 8 * i, xs[i] / w);
                    putFloat(entry + 128 + 8 * i, ys[i] / h);
                }
            }
            filled[d][a] = true;
        }
    }
    request.output = nullptr;
    request.outputBytes = 0;
    request.input = preset.data();
    request.inputBytes = uint32_t(preset.size());
    if (NET_DVR_SetSTDConfig(userId, kCmdPresetSet, &request)) {
        qInfo("预置点设置 is successful!");
        std::memcpy(ruled, filled, sizeof ruled);
    } else {
        qInfo("预置点 failed, error code: %d\n", int(NET_DVR_GetLastError()));
    }
}

std::optional<int> HikIRCamera::roiTemperature(int detect, int area)
{
    const auto failed = [&](const char* why) -> std::optional<int> {
        qWarning("Infrared camera %s: temperature of detect %d area %d not read: %s", qUtf8Printable(serialText),
                 detect, area, why);
        return std::nullopt;
    };
    // Only areas with a rule: any other rule number would read another
    // area's rule, and large ones would index past the tables.
    if (detect < 0 || detect >= MeasuredDetects || area < 0 || area >= RulesPerDetect || !ruled[detect][area]) {
        return failed("the area has no measurement rule");
    }
    if (userId < 0) {
        return failed("the camera is not open");
    }
    const int rule = detect * RulesPerDetect + area;
    unsigned char reply[NET_DVR_RULE_TEMPERATURE_BYTES] = {};
    uint32_t returned = 0;
    if (!NET_DVR_GetDVRConfig(userId, kCmdRuleTemperature, rule + 1, reply, sizeof reply, &returned)) {
        qInfo("%s", qUtf8Printable(QStringLiteral("获取温度失败, error code: %1\n").arg(NET_DVR_GetLastError())));
        return std::nullopt;
    }
    const int i = (rule / 10) * AreasPerDetect + rule % 10;
    const int mode = areaMode[i];
    const float measured = getFloat(reply + (mode == 1 ? 8 : mode == 2 ? 0 : 4));
    const double t = double(measured) + double(areaOffset[i]);
    if (!std::isfinite(t) || t >= double(std::numeric_limits<int>::max()) + 1.0 ||
        t <= double(std::numeric_limits<int>::min()) - 1.0) {
        return failed("the camera answered no usable temperature");
    }
    return int(t);
}
