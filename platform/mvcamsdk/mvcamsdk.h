#pragma once

// Stand-in for the industrial camera library MVCAMSDK: the functions, records
// and codes our driver uses, declared by us, over simulated devices
// (mvcamsdksim.h). Status 0 is success; failures are negative.

#include <cstddef>

extern "C" {

enum {
    CAMERA_STATUS_SUCCESS = 0,
    CAMERA_STATUS_FAILED = -1,
    CAMERA_STATUS_NOT_SUPPORTED = -4,
    CAMERA_STATUS_PARAMETER_INVALID = -6,
    CAMERA_STATUS_INVALID_HANDLE = -7,
    CAMERA_STATUS_NO_DEVICE_FOUND = -16,  // not there, or gone since
    CAMERA_STATUS_DEVICE_BUSY = -18,      // opened elsewhere
};

// Pixel formats of raw frames and of the image processor's output.
enum {
    CAMERA_MEDIA_MONO8 = 0x01080001,
    CAMERA_MEDIA_BAYRG8 = 0x01080009,
    CAMERA_MEDIA_RGB8 = 0x02180014,
};

// Connection messages.
enum { CAMERA_LINK_LOST = 0, CAMERA_LINK_BACK = 1 };

// Trigger modes.
enum { CAMERA_TRIGGER_CONTINUOUS = 0, CAMERA_TRIGGER_SOFTWARE = 1, CAMERA_TRIGGER_HARDWARE = 2 };

enum { CAMERA_RESOLUTION_CUSTOM = 255, CAMERA_PARAMETER_DEFAULT = 255 };

struct CameraDeviceRecord {
    char productSeries[32];
    char productName[32];
    char friendlyName[32];
    char linkName[32];
    char driverVersion[32];
    char sensorType[32];
    char portType[32];
    char serialNumber[32];
    unsigned int instance;
};
static_assert(sizeof(CameraDeviceRecord) == 260, "a device record has 260 bytes");
static_assert(offsetof(CameraDeviceRecord, serialNumber) == 224, "the serial number is at byte 224");

struct CameraRange {
    int minimum;
    int maximum;
};

struct CameraCapability {
    int monochromeSensor;  // 1: the sensor sees grey only
    int maxWidth;
    int maxHeight;
    CameraRange sharpness;
    CameraRange contrast;
    CameraRange gamma;
    CameraRange analogGain;
    double exposureMinimum;  // microseconds
    double exposureMaximum;
};

struct CameraResolution {
    int index;  // CAMERA_RESOLUTION_CUSTOM for a size of one's own
    int horizontalOffset;
    int verticalOffset;
    int fieldWidth;
    int fieldHeight;
    int width;
    int height;
};

// The raw frame handed to the frame callback.
struct CameraFrameHeader {
    unsigned int mediaType;
    unsigned int bytes;
    int width;
    int height;
    unsigned int sequence;
};

typedef int CameraHandle;
typedef void (*CameraFrameCallback)(CameraHandle handle, unsigned char* raw, CameraFrameHeader* header,
                                    void* context);
typedef void (*CameraConnectionCallback)(CameraHandle handle, unsigned int message, unsigned int parameter,
                                         void* context);

int CameraSetSysOption(const char* name, const char* value);
// count: in, the records `list` holds; out, the records filled.
int CameraEnumerateDevice(CameraDeviceRecord* list, int* count);
int CameraInit(const CameraDeviceRecord* device, int parameterMode, int team, CameraHandle* handle);
int CameraUnInit(CameraHandle handle);
int CameraGetCapability(CameraHandle handle, CameraCapability* capability);
int CameraGetImageResolution(CameraHandle handle, CameraResolution* resolution);
int CameraSetImageResolution(CameraHandle handle, const CameraResolution* resolution);
int CameraSetIspOutFormat(CameraHandle handle, unsigned int format);
int CameraSetMonochrome(CameraHandle handle, int enable);
// 0: the sensor's colour mosaic; 1: grey from a colour sensor.
int CameraSetMediaType(CameraHandle handle, int index);
int CameraSetConnectionStatusCallback(CameraHandle handle, CameraConnectionCallback callback, void* context);
int CameraSetCallbackFunction(CameraHandle handle, CameraFrameCallback callback, void* context,
                              CameraFrameCallback* previous);
int CameraCommonCall(CameraHandle handle, const char* command, char* result, unsigned int resultSize);
// Processes the raw frame its header describes into `out`, in the output
// format: width x height x (1 or 3) bytes.
int CameraImageProcess(CameraHandle handle, unsigned char* raw, unsigned char* out, CameraFrameHeader* header);
int CameraPlay(CameraHandle handle);
int CameraStop(CameraHandle handle);
int CameraSetAeState(CameraHandle handle, int on);
int CameraSetAeTarget(CameraHandle handle, int target);
int CameraSetAeExposureRange(CameraHandle handle, double minimum, double maximum);
int CameraSetAntiFlick(CameraHandle handle, int on);
int CameraSetExposureTime(CameraHandle handle, double microseconds);
int CameraGetExposureTime(CameraHandle handle, double* microseconds);
int CameraSetAnalogGain(CameraHandle handle, int gain);
int CameraGetAnalogGain(CameraHandle handle, int* gain);
int CameraGetAeAnalogGainRange(CameraHandle handle, int* minimum, int* maximum);
int CameraSetSharpness(CameraHandle handle, int value);
int CameraGetSharpness(CameraHandle handle, int* value);
int CameraSetContrast(CameraHandle handle, int value);
int CameraGetContrast(CameraHandle handle, int* value);
int CameraSetGamma(CameraHandle handle, int value);
int CameraGetGamma(CameraHandle handle, int* value);
int CameraSetOnceWB(CameraHandle handle);
// 0 manual, 1 automatic.
int CameraSetWbMode(CameraHandle handle, int mode);
// direction 0 horizontal, 1 vertical.
int CameraSetMirror(CameraHandle handle, int direction, int enable);
int CameraSetFrameSpeed(CameraHandle handle, int speed);
int CameraSetTriggerMode(CameraHandle handle, int mode);
int CameraLoadParameter(CameraHandle handle, int team);

} // extern "C"
