#pragma once

// Stand-in for the GigE/USB industrial camera library MVCameraControl: the
// functions, records and codes our driver uses, declared by us, over simulated
// devices (mvcameracontrolsim.h). Status 0 is success; failures are the
// MV_E_ codes below.

#include <cstddef>

extern "C" {

enum {
    MV_OK = 0,
    MV_E_HANDLE = int(0x80000000u),         // no such handle
    MV_E_SUPPORT = int(0x80000001u),        // feature or conversion not offered
    MV_E_CALLORDER = int(0x80000003u),      // not open, or not in this state
    MV_E_PARAMETER = int(0x80000004u),      // bad argument or value out of range
    MV_E_BUFFER = int(0x80000005u),         // target buffer too small
    MV_E_NODEVICE = int(0x80000006u),       // the device is not (or no longer) there
    MV_E_ACCESS_DENIED = int(0x80000203u),  // opened by someone else, or locked while grabbing
};

// Transport layers of MV_CC_EnumDevices (a mask).
enum { MV_GIGE_DEVICE = 0x1, MV_USB_DEVICE = 0x4 };

// Exception codes of the exception callback.
enum { MV_EXCEPTION_DEV_DISCONNECT = 0x8001 };

// Pixel types: bits 16 to 23 give the bits per pixel.
enum {
    MV_PIXEL_MONO8 = 0x01080001,
    MV_PIXEL_BAYER_RG8 = 0x01080009,
    MV_PIXEL_RGB8_PACKED = 0x02180014,
};

// Access modes of MV_CC_OpenDevice.
enum { MV_ACCESS_EXCLUSIVE = 1 };

// Device information as seen through its GigE member; USB devices fill the
// same fields.
struct MV_GIGE_DEVICE_INFO {
    unsigned int ipConfigOption;
    unsigned int ipConfigCurrent;
    unsigned int currentIp;
    unsigned int subnetMask;
    unsigned int gateway;
    unsigned char manufacturerName[32];
    unsigned char modelName[32];
    unsigned char deviceVersion[32];
    unsigned char manufacturerInfo[48];
    unsigned char serialNumber[16];
    unsigned char userDefinedName[16];
    unsigned int reserved[5];
};

struct MV_CC_DEVICE_INFO {
    unsigned short versionMajor;
    unsigned short versionMinor;
    unsigned int macHigh;
    unsigned int macLow;
    unsigned int transportLayer;
    unsigned int reserved[4];
    MV_GIGE_DEVICE_INFO gige;
};

static_assert(offsetof(MV_CC_DEVICE_INFO, gige) + offsetof(MV_GIGE_DEVICE_INFO, manufacturerName) == 52,
              "the manufacturer name is at byte 52 of a device record");
static_assert(offsetof(MV_CC_DEVICE_INFO, gige) + offsetof(MV_GIGE_DEVICE_INFO, serialNumber) == 196,
              "the serial number is at byte 196 of a device record");
static_assert(sizeof(MV_GIGE_DEVICE_INFO::serialNumber) == 16, "serial numbers hold 16 bytes");

enum { MV_MAX_DEVICE_NUM = 256 };

// The records belong to the library and stay valid until the next
// MV_CC_EnumDevices.
struct MV_CC_DEVICE_INFO_LIST {
    unsigned int deviceCount;
    MV_CC_DEVICE_INFO* devices[MV_MAX_DEVICE_NUM];
};

struct MV_FRAME_OUT_INFO {
    unsigned int width;
    unsigned int height;
    unsigned int pixelType;
    unsigned int frameNumber;
    unsigned int frameLength;
};

struct MVCC_INTVALUE {
    unsigned int current;
    unsigned int maximum;
    unsigned int minimum;
    unsigned int increment;
};

struct MVCC_FLOATVALUE {
    float current;
    float maximum;
    float minimum;
};

// A text value; one that fills the field has no terminating NUL.
struct MVCC_STRINGVALUE {
    char text[256];
};

struct MV_CC_PIXEL_CONVERT_PARAM {
    unsigned int width;
    unsigned int height;
    unsigned int sourceType;
    const unsigned char* source;
    unsigned int sourceLength;
    unsigned int targetType;
    unsigned char* target;
    unsigned int targetSize;    // bytes the target holds
    unsigned int targetLength;  // bytes written
};

typedef void (*MvImageCallback)(unsigned char* data, MV_FRAME_OUT_INFO* info, void* user);
typedef void (*MvExceptionCallback)(unsigned int code, void* user);

int MV_CC_EnumDevices(unsigned int layers, MV_CC_DEVICE_INFO_LIST* list);
int MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* device);
int MV_CC_DestroyHandle(void* handle);
int MV_CC_OpenDevice(void* handle, unsigned int accessMode, unsigned short switchoverKey);
int MV_CC_CloseDevice(void* handle);
int MV_CC_RegisterImageCallBack(void* handle, MvImageCallback callback, void* user);
int MV_CC_RegisterExceptionCallBack(void* handle, MvExceptionCallback callback, void* user);
int MV_CC_GetStringValue(void* handle, const char* key, MVCC_STRINGVALUE* value);
int MV_CC_GetIntValue(void* handle, const char* key, MVCC_INTVALUE* value);
int MV_CC_SetIntValue(void* handle, const char* key, unsigned int value);
int MV_CC_SetEnumValue(void* handle, const char* key, unsigned int value);
int MV_CC_SetCommandValue(void* handle, const char* key);
int MV_CC_SetBoolValue(void* handle, const char* key, bool value);
int MV_CC_GetFloatValue(void* handle, const char* key, MVCC_FLOATVALUE* value);
int MV_CC_SetFloatValue(void* handle, const char* key, float value);
int MV_CC_GetExposureTime(void* handle, MVCC_FLOATVALUE* value);
int MV_CC_GetGain(void* handle, MVCC_FLOATVALUE* value);
int MV_CC_GetGamma(void* handle, MVCC_FLOATVALUE* value);
int MV_CC_GetSharpness(void* handle, MVCC_INTVALUE* value);
int MV_CC_StartGrabbing(void* handle);
int MV_CC_StopGrabbing(void* handle);
int MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* param);

} // extern "C"
