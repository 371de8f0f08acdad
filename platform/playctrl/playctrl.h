#pragma once

// The stream decoder library of the infrared network camera, as the driver
// calls it: a port is taken, opened with the stream's header, fed the stream
// data and played; decoded pictures come back in a display callback on the
// port's own thread. Results are non-zero for success; PlayM4_GetLastError
// tells why a call of a port failed.

#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

// Error codes of PlayM4_GetLastError.
#define PLAYM4_NOERROR 0
#define PLAYM4_PARA_OVER 1
#define PLAYM4_ORDER_ERROR 2
#define PLAYM4_BUF_OVER 11
#define PLAYM4_OPEN_FILE_ERROR 14
#define PLAYM4_ALLOC_MEMORY_ERROR 16

// Stream open modes.
#define PLAYM4_STREAM_REALTIME 0
#define PLAYM4_STREAM_FILE 1

// Picture types of the display callback.
#define PLAYM4_PICTURE_YV12 3

typedef void* PLAYM4_HWND;

// One decoded picture: YV12 (the Y plane, then V, then U, each chroma plane a
// quarter of the Y plane).
typedef struct {
    int32_t port;
    const unsigned char* buffer;
    int32_t bufferBytes;
    int32_t width;
    int32_t height;
    int32_t pictureType;
    int64_t stamp;
    int64_t user;
} PLAYM4_DISPLAY_INFO;

typedef void (*PLAYM4_DISPLAY_CALLBACK)(PLAYM4_DISPLAY_INFO* info);

// The lowest free port.
int PlayM4_GetPort(int32_t* port);
int PlayM4_FreePort(int32_t port);
int PlayM4_SetStreamOpenMode(int32_t port, uint32_t mode);
int PlayM4_OpenStream(int32_t port, const unsigned char* header, uint32_t headerBytes, uint32_t bufferBytes);
int PlayM4_CloseStream(int32_t port);
int PlayM4_SetDisplayCallBackEx(int32_t port, PLAYM4_DISPLAY_CALLBACK callback, int64_t user);
int PlayM4_SetDisplayBuf(int32_t port, uint32_t frames);
int PlayM4_Play(int32_t port, PLAYM4_HWND window);
// Returns when no display callback of the port runs or will run (at once when
// called from one, which cannot wait for itself).
int PlayM4_Stop(int32_t port);
int PlayM4_InputData(int32_t port, const unsigned char* data, uint32_t bytes);
uint32_t PlayM4_GetLastError(int32_t port);

#ifdef __cplusplus
}
#endif
