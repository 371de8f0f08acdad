#pragma once

/*
 * streamsdk: receiver of a thermal camera's raw 16-bit video stream.
 *
 * Transport. The receiver connects over TCP to the numeric IPv4 address and
 * port of the stream (no name lookups) and sends
 *
 *     GET <path> HTTP/1.1\r\nHost: <address>:<port>\r\n\r\n
 *
 * The camera answers with an HTTP status line and header block ending in an
 * empty line (status 200, at most 8 KiB of header), followed by frames, back to
 * back, until either side closes the connection. One frame is
 *
 *     offset  size  field (all little-endian)
 *     0       4     width  in pixels, 1 to 4096
 *     4       4     height in pixels, 1 to 4096
 *     8       4     sequence number (counts frames, wraps)
 *     12      4     length of the values in bytes = width * height * 2
 *     16      len   width * height unsigned 16-bit values, row by row
 *
 * A header whose numbers break these rules ends the connection (the stream
 * cannot be resynchronised); a frame cut off by the end of the connection is
 * dropped. Reads of any size are reassembled.
 *
 * Threads. A started stream has one receiving thread of its own, which calls
 * the frame callback for every complete frame. While started it reconnects by
 * itself whenever the connection fails or ends, and drops a connection that
 * stays silent for STREAMSDK_IDLE_TIMEOUT_MS. streamsdk_stop_stream returns
 * only when the thread has ended: no callback runs or will run afterwards. The
 * callback must not stop or destroy its own stream (that is refused).
 *
 * Builds outside the panel accept loopback addresses (127.0.0.0/8) only; any
 * other address is refused without a connection attempt and logged.
 */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct streamsdk_stream streamsdk_stream;

/* A received frame, valid only during the callback. */
typedef struct streamsdk_frame {
    const uint16_t* values; /* width * height raw values, row by row */
    int width;
    int height;
    uint32_t sequence;
} streamsdk_frame;

/* Callback statuses. */
#define STREAMSDK_FRAME 0        /* frame points to a complete frame */
#define STREAMSDK_CONNECTED 1    /* a connection was made; frame is null */
#define STREAMSDK_DISCONNECTED 2 /* the connection ended; frame is null */

typedef void (*streamsdk_frame_callback)(int status, const streamsdk_frame* frame, void* context);

/* Results. */
#define STREAMSDK_OK 0
#define STREAMSDK_EINVAL (-1)    /* a null or malformed argument */
#define STREAMSDK_EREFUSED (-2)  /* an address this build may not reach */
#define STREAMSDK_ESTATE (-3)    /* started twice, or stopped from its own callback */

#define STREAMSDK_MAX_SIDE 4096
#define STREAMSDK_DEFAULT_PACKET_SIZE 65536
#define STREAMSDK_MAX_PACKET_SIZE (1 << 20)
#define STREAMSDK_CONNECT_TIMEOUT_MS 1000
#define STREAMSDK_RETRY_INTERVAL_MS 200
#define STREAMSDK_IDLE_TIMEOUT_MS 3000

/* A stream of host (dotted IPv4) and port; nothing is connected yet. */
int streamsdk_create_stream(const char* host, uint16_t port, streamsdk_stream** handle);
/* Starts the receiving thread. max_packet_size bounds each read from the
 * connection (0 or less: the default). */
int streamsdk_start_stream(streamsdk_stream* handle, const char* path, int max_packet_size,
                           streamsdk_frame_callback callback, void* context);
/* Stops and joins the receiving thread; nothing happens when it is not running. */
int streamsdk_stop_stream(streamsdk_stream* handle);
/* Stops the stream and frees the handle. */
int streamsdk_destroy_stream(streamsdk_stream* handle);

#ifdef __cplusplus
}
#endif
