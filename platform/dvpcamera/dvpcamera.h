#pragma once

// Stand-in for the industrial camera library DVPCamera: the functions, records
// and codes our driver uses, declared by us, over simulated devices
// (dvpcamerasim.h). Status 1 is success.

#include <cstddef>

extern "C" {

enum {
    DVP_STATUS_OK = 1,
    DVP_STATUS_FAILED = -1,
    DVP_STATUS_PARAMETER_INVALID = -2,
    DVP_STATUS_INVALID_HANDLE = -3,
    DVP_STATUS_NOT_FOUND = -4,  // no such camera, or gone since
    DVP_STATUS_BUSY = -5,       // opened elsewhere
    DVP_STATUS_NOT_SUPPORTED = -6,
};

// Target formats of the frames handed to the stream callback.
enum {
    DVP_FORMAT_RGB24 = 10,  // 3 bytes per pixel: red, green, blue
    DVP_FORMAT_BAYER8 = 20,
    DVP_FORMAT_MONO8 = 30,
};

enum { DVP_OPEN_NORMAL = 1 };

// Stream states of dvpGetStreamState.
enum { DVP_STREAM_STOPPED = 0, DVP_STREAM_STARTED = 2 };

// Events: the frame callback runs on the stream thread; a lost link.
enum { DVP_STREAM_EVENT_FRAME_THREAD = 2, DVP_EVENT_DEVICE_LOST = 7 };

enum { DVP_TRIGGER_SOURCE_LINE1 = 1 };

struct dvpCameraInfo {
    char vendor[64];
    char manufacturer[64];
    char model[64];
    char family[64];
    char linkName[64];
    char sensorInfo[64];
    char hardwareVersion[64];
    char firmwareVersion[64];
    char kernelVersion[64];
    char driverVersion[64];
    char friendlyName[64];  // the name dvpOpenByName takes
    char portInfo[64];
    char serialNumber[64];
    char originalSerialNumber[64];
    char interfaceName[64];
    char interfaceInfo[64];
    char reservedText[64];
    char userId[64];  // the identity the system keeps
    char reserved[64];
};
static_assert(sizeof(dvpCameraInfo) == 1216, "a camera-information record has 1216 bytes");
static_assert(offsetof(dvpCameraInfo, friendlyName) == 640, "the name is at byte 640");
static_assert(offsetof(dvpCameraInfo, userId) == 1088, "the identity is at byte 1088");

struct dvpRegion {
    int x;
    int y;
    int width;
    int height;
    int reserved[32];
};
static_assert(sizeof(dvpRegion) == 144, "a region record has 144 bytes");

struct dvpFrame {
    int format;
    int bits;
    unsigned int bytes;
    int width;
    int height;
    unsigned long long frameId;
    double timestamp;
};

typedef unsigned int dvpHandle;
typedef int (*dvpStreamCallback)(dvpHandle handle, int event, void* context, dvpFrame* frame, void* pixels);
typedef int (*dvpEventCallback)(dvpHandle handle, int event, void* context, int parameter, void* reserved);

int dvpRefresh(unsigned int* count);
int dvpEnum(unsigned int index, dvpCameraInfo* info);
int dvpOpenByName(const char* name, int mode, dvpHandle* handle);
int dvpClose(dvpHandle handle);
int dvpIsValid(dvpHandle handle, bool* valid);
int dvpGetStreamState(dvpHandle handle, int* state);
int dvpStart(dvpHandle handle);
int dvpStop(dvpHandle handle);
int dvpSetGammaState(dvpHandle handle, bool on);
int dvpSetContrastState(dvpHandle handle, bool on);
int dvpSetSharpnessState(dvpHandle handle, bool on);
int dvpSetTargetFormat(dvpHandle handle, int format);
int dvpSetConfigString(dvpHandle handle, const char* name, const char* value);
int dvpSetAeOperation(dvpHandle handle, int operation);
int dvpGetRoi(dvpHandle handle, dvpRegion* region);
int dvpSetRoi(dvpHandle handle, dvpRegion region);
int dvpSetLinkTimeout(dvpHandle handle, unsigned int milliseconds);
int dvpRegisterEventCallback(dvpHandle handle, dvpEventCallback callback, int event, void* context);
int dvpRegisterStreamCallback(dvpHandle handle, dvpStreamCallback callback, int event, void* context);
int dvpLoadDefault(dvpHandle handle);
int dvpSetExposure(dvpHandle handle, double microseconds);
int dvpGetExposure(dvpHandle handle, double* microseconds);
int dvpSetAnalogGain(dvpHandle handle, float gain);
int dvpGetAnalogGain(dvpHandle handle, float* gain);
int dvpSetSharpness(dvpHandle handle, int value);
int dvpGetSharpness(dvpHandle handle, int* value);
int dvpSetContrast(dvpHandle handle, int value);
int dvpGetContrast(dvpHandle handle, int* value);
int dvpSetGamma(dvpHandle handle, int value);
int dvpGetGamma(dvpHandle handle, int* value);
int dvpSetTriggerState(dvpHandle handle, bool on);
int dvpSetTriggerSource(dvpHandle handle, int source);

} // extern "C"
