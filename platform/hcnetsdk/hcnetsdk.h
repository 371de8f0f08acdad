#pragma once

// The device library of the infrared network camera as the driver calls it:
// login by address, configuration records read and written by command number,
// and a live stream handed to a callback on the library's own thread.
// Functions answer non-zero (or a handle of 0 or more) for success;
// NET_DVR_GetLastError tells why the calling thread's last call failed.
// Record layouts are ours; only their sizes and the bytes the driver reads or
// writes matter.

#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

typedef int BOOL;

// Error codes of NET_DVR_GetLastError.
#define NET_DVR_ERR_NONE 0
#define NET_DVR_ERR_PASSWORD 1
#define NET_DVR_ERR_NOT_READY 3
#define NET_DVR_ERR_UNREACHABLE 7
#define NET_DVR_ERR_ORDER 12
#define NET_DVR_ERR_PARAMETER 17
#define NET_DVR_ERR_UNSUPPORTED 23
#define NET_DVR_ERR_NO_USER 47

// Record sizes.
#define NET_DVR_DEVICECFG_BYTES 132
#define NET_DVR_IMAGE_ENHANCE_BYTES 492
#define NET_DVR_STREAM_CONDITION_BYTES 112
#define NET_DVR_STREAM_REPLY_BYTES 116
#define NET_DVR_REALTIME_THERMOMETRY_BYTES 68
#define NET_DVR_THERMOMETRY_BASICPARAM_BYTES 136
#define NET_DVR_THERMOMETRY_MODE_BYTES 76
#define NET_DVR_CCDPARAM_BYTES 7752
#define NET_DVR_PRESET_CONDITION_BYTES 72
#define NET_DVR_PRESETINFO_BYTES 8168
#define NET_DVR_RULE_TEMPERATURE_BYTES 44

// Live stream data types.
#define NET_DVR_SYSHEAD 1
#define NET_DVR_STREAMDATA 2

// Login (synchronous): the device's address text, port, user and password.
typedef struct {
    char address[129];
    unsigned char reserved0[3];
    uint16_t port;
    unsigned char reserved1[2];
    char userName[64];
    char password[64];
    int32_t asynchronous;
    unsigned char reserved2[128];
} NET_DVR_LOGIN_RECORD;

// What a login answers; its first 48 bytes are the device's serial number
// (not terminated when it fills them).
typedef struct {
    unsigned char serialNumber[48];
    unsigned char rest[296];
} NET_DVR_DEVICE_RECORD;

// One live stream.
typedef struct {
    int32_t channel;
    uint32_t streamType;  // 0 main stream
    uint32_t linkMode;    // 0 TCP
    uint32_t blocked;     // 0 not blocking
    void* window;
    unsigned char reserved[288 - 16 - sizeof(void*)];
} NET_DVR_PREVIEW_RECORD;

// A standard configuration request.
typedef struct {
    void* condition;
    uint32_t conditionBytes;
    void* input;
    uint32_t inputBytes;
    void* output;
    uint32_t outputBytes;
    void* status;
    uint32_t statusBytes;
} NET_DVR_STD_REQUEST;

typedef void (*NET_DVR_REALDATA_CALLBACK)(int32_t realHandle, uint32_t dataType, unsigned char* data,
                                          uint32_t bytes, void* user);

BOOL NET_DVR_Init(void);
BOOL NET_DVR_Cleanup(void);
uint32_t NET_DVR_GetLastError(void);
BOOL NET_DVR_GetLocalIP(char addresses[16][16], uint32_t* count, BOOL* bind);
BOOL NET_DVR_SetValidIP(uint32_t index, BOOL enable);
BOOL NET_DVR_SetConnectTime(uint32_t milliseconds, uint32_t tries);
BOOL NET_DVR_SetReconnect(uint32_t milliseconds, BOOL enable);
BOOL NET_DVR_SetLogToFile(uint32_t level, const char* folder, BOOL autoDelete);
BOOL NET_DVR_SetLogPrint(BOOL on);
int32_t NET_DVR_Login_V40(NET_DVR_LOGIN_RECORD* login, NET_DVR_DEVICE_RECORD* device);
BOOL NET_DVR_Logout(int32_t user);
BOOL NET_DVR_GetDVRConfig(int32_t user, uint32_t command, int32_t channel, void* output, uint32_t outputBytes,
                          uint32_t* returned);
BOOL NET_DVR_SetDVRConfig(int32_t user, uint32_t command, int32_t channel, const void* input,
                          uint32_t inputBytes);
BOOL NET_DVR_GetDeviceConfig(int32_t user, uint32_t command, uint32_t count, const void* condition,
                             uint32_t conditionBytes, void* status, void* output, uint32_t outputBytes);
BOOL NET_DVR_GetSTDConfig(int32_t user, uint32_t command, NET_DVR_STD_REQUEST* request);
BOOL NET_DVR_SetSTDConfig(int32_t user, uint32_t command, NET_DVR_STD_REQUEST* request);
BOOL NET_DVR_FocusOnePush(int32_t user, int32_t channel);
int32_t NET_DVR_RealPlay_V40(int32_t user, NET_DVR_PREVIEW_RECORD* preview, NET_DVR_REALDATA_CALLBACK callback,
                             void* context);
// Returns when the stream's callback no longer runs (at once when called from
// it, which cannot wait for itself).
BOOL NET_DVR_StopRealPlay(int32_t realHandle);

#ifdef __cplusplus
}
#endif
