#pragma once

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>
#include <cstddef>

class QWidget;

// Driver type ids: the value of CameraInfo::iid and of CameraInterface::typeId,
// and the keys of cameraRegistry.
extern const char kHikCameraIid[];       // "hikcamera_IID"
extern const char kMindCameraIid[];      // "mindcamera_IID"
extern const char kDo3thinkCameraIid[];  // "do3thinkcamera_IID"
extern const char kHikIRCameraIid[];     // "hikircamera_IID"
extern const char kFotricCameraIid[];    // "fotriccamera_IID"
extern const char kSimulateCameraIid[];  // "simulatecamera_IID"

// Copies a fixed-size text handed over by an SDK or a device: at most
// sourceBound bytes are read (the source need not end in a NUL) and at most
// destinationSize - 1 are kept; the destination is always NUL-terminated and
// zero-filled behind the text. Returns the number of bytes kept.
std::size_t copyBoundedText(char* destination, std::size_t destinationSize, const char* source,
                            std::size_t sourceBound);

// The record of one camera device, copied by value.
struct CameraInfo {
    static constexpr int IdBytes = 64;
    static constexpr int AddressBytes = 129;

    // Position in the driver's own enumeration; -1 where the driver does not use it.
    qint32 index = -1;
    // Number by which the infrared driver picks its per-camera settings; -1 elsewhere.
    qint32 number = -1;
    QString iid;
    // Serial number of an industrial or infrared camera, address of the REST
    // thermal camera, empty for the simulated camera. NUL-terminated.
    char id[IdBytes] = {};
    // Network address of a network camera, else empty. NUL-terminated.
    char address[AddressBytes] = {};
    // "IRCamera" or "RGBCamera" for the two channels of an infrared device.
    QString channelName;

    // Take an SDK's fixed-size text field (sourceBound = the field's size);
    // too long a text is cut.
    void setId(const char* source, std::size_t sourceBound) { copyBoundedText(id, sizeof id, source, sourceBound); }
    void setAddress(const char* source, std::size_t sourceBound)
    {
        copyBoundedText(address, sizeof address, source, sourceBound);
    }
    // Device texts are bytes; Latin-1 maps every byte to one character and back.
    void setId(const QString& text);
    void setAddress(const QString& text);
    QString idText() const;
    QString addressText() const;
};

// Kind of camera, registered with the meta-type system under "CAMERA_TYPE".
enum CAMERA_TYPE : qint32 {
    CAMERA_TYPE_SIMULATE = 0,
    CAMERA_TYPE_HIK = 1,
    CAMERA_TYPE_MIND = 2,
    CAMERA_TYPE_DO3THINK = 3,
    CAMERA_TYPE_HIKIR = 4,
    CAMERA_TYPE_FOTRIC = 5,
};
Q_DECLARE_METATYPE(CAMERA_TYPE)
static_assert(sizeof(CAMERA_TYPE) == 4, "CAMERA_TYPE is a four-byte enumeration");

// The meta-type id of CAMERA_TYPE; registering happens once, on first use
// and at program start.
int cameraTypeMetaTypeId();

// The one type through which the system reaches a camera. A prototype of each
// driver type only answers typeId, enumerate and create; create makes the
// driver of one device. Every operation is called on the GUI thread; SDK
// threads only ever touch a driver's frame hand-over.
//
// Frames are width x height pixels, rows top to bottom without padding: grey
// frames 1 byte per pixel, colour frames 4 bytes per pixel in the order blue,
// green, red, 0.
class CameraInterface : public QObject {
    Q_OBJECT
public:
    CameraInterface();
    ~CameraInterface() override;

    // Connects, registers the SDK callbacks, reads the frame size and sizes
    // the frame buffer for the colour output flag; false when it cannot. A
    // driver whose open failed is deleted (openCamera): it must leave no SDK
    // callback registered and its destructor must give back what open took.
    virtual bool open() = 0;
    virtual void close() = 0;
    // True when acquisition runs.
    virtual bool startGrab() = 0;
    virtual void stopGrab() = 0;
    // Gives the device up after it was lost.
    virtual void release() = 0;
    // True when the lost device delivers again.
    virtual bool reconnect() = 0;
    // One-shot automatic exposure; ending it may answer
    // {"ExposureTime": microseconds, "Gain": number}.
    virtual QJsonObject autoAdjust(bool on) = 0;
    // Milliseconds.
    virtual void setExposure(int value) = 0;
    // 0 to 64.
    virtual void setGain(int value) = 0;
    // 0 to 100.
    virtual void setSharpness(int value) = 0;
    // 0 to 200 (infrared: the temperature range).
    virtual void setContrast(int value) = 0;
    // 0 to 250.
    virtual void setGamma(int value) = 0;
    virtual void setWideDynamicRange(bool on) = 0;
    virtual void oneShotWhiteBalance() = 0;
    virtual void setAutoExposure(bool on) = 0;
    // 4-byte colour frames; must come before open, which sizes the buffer.
    virtual void setColorOutput(bool on) = 0;
    virtual void setDisplayWindow(QWidget* window) = 0;
    virtual void setMirror(bool horizontal, bool vertical) = 0;
    virtual void setFrameRate(int value) = 0;
    // Thermal drivers: the variant holds a CammerSingleton*.
    virtual void setDetectConfig(QVariant config, int flag) = 0;
    // Thermal drivers: request {"detect": d, "funcNO": area}, reply the temperature.
    virtual void query(QVariant request, QVariant& reply, int flag) = 0;
    // frames = frames delivered since the previous call; true when not 0.
    virtual bool takeFrameCount(int& frames) = 0;
    virtual void setTriggerMode(bool hardware) = 0;
    virtual void softTrigger() = 0;
    virtual void getSize(int& width, int& height) = 0;
    virtual QString typeId() = 0;
    virtual QString serial() = 0;
    // Copies the newest frame into destination (which holds the frame's bytes)
    // when one came since the previous call. A false result leaves the
    // destination as it was (the simulated camera copies anyway).
    virtual bool getFrame(void* destination) = 0;
    // Loads the device's defaults and writes exposure, gain, sharpness,
    // contrast and gamma to parameters[camera], [8 + camera], ... [32 + camera].
    virtual void loadDefaults(int* parameters, int camera) = 0;
    virtual QList<CameraInfo> enumerate() = 0;
    virtual int deviceCount() = 0;
    // Called on a prototype: a new driver of the same type for that device,
    // not yet opened, or null.
    virtual CameraInterface* create(CameraInfo record) = 0;
    // 0 simulated, 1 visible light, 2 thermal.
    virtual int spectrum() = 0;
    virtual bool isOnline() = 0;
    // A copy of the kept record.
    virtual CameraInfo info();

protected:
    // The record the driver was created for (index and number -1, texts empty
    // on a prototype).
    CameraInfo cameraInfo;
    // Frame size; open reads the device's size.
    int width = 1920;
    int height = 1080;
    // Set by setColorOutput before open: 4-byte pixels.
    bool colorOutput = false;
    // Industrial drivers: the device is reachable. Written by an SDK thread.
    std::atomic<bool> online{false};
    // Thermal drivers: isOnline polls since a frame was last seen.
    int watchdogCount = 0;
    // The record's id as text, for serial.
    QString serialText;
};

// Expands width x height pixels of 3 bytes into 4-byte pixels: destination
// bytes 0, 1, 2, 3 are source bytes 2, 1, 0 and 0. Nothing happens when
// width or height is 0 or less.
void rgb24ToRgb32(unsigned char* destination, const unsigned char* source, int width, int height);

// Expands width x height grey pixels into 4-byte pixels (v, v, v, 0): the
// colour frame of a grey sensor. Nothing happens when width or height is 0 or
// less.
void greyToRgb32(unsigned char* destination, const unsigned char* source, int width, int height);
