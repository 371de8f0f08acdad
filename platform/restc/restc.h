#pragma once

/*
 * restc: a small synchronous HTTP/1.1 client for the REST interface of a
 * thermal network camera.
 *
 * Every request opens its own TCP connection to the numeric IPv4 address given
 * at creation (no name lookups), sends "Connection: close", and frames both
 * directions by Content-Length. One time-out bounds the whole request:
 * connecting, sending and receiving together. The calls block the calling
 * thread for at most that time and run no event loop.
 *
 * Request calls: the body of a POST or PUT is in buffer, its byte count in
 * *length on entry. The reply body replaces it in buffer and *length holds its
 * byte count on return. The result is the HTTP status of the reply, or 0 when
 * there is no usable reply: the address was refused, the connection failed or
 * timed out, the reply was malformed, or its body does not fit into capacity
 * bytes (a reply is never cut to fit). On 0, *length is 0; nothing is ever
 * written to buffer beyond capacity bytes.
 *
 * Builds outside the panel accept loopback addresses (127.0.0.0/8) only; any
 * other address is refused without a connection attempt and logged.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct restc_connection restc_connection;

/* Time-out of a connection that was not given one, in milliseconds. */
#define RESTC_DEFAULT_TIMEOUT_MS 1000
/* Longest status line and header block of a reply that is accepted. */
#define RESTC_MAX_HEADER_BYTES 8192

/* A connection to host (dotted IPv4) and port; null when the address is not
 * numeric, is refused, or the port is 0. Nothing is sent yet. */
restc_connection* restc_create_connection(const char* host, uint16_t port);
void restc_destroy_connection(restc_connection* connection);

/* Time-out of every later request on this connection; a value of 0 or less
 * restores the default. */
void restc_set_timeout(restc_connection* connection, int milliseconds);

/* Credentials for all later requests of the process (HTTP basic
 * authorization); an empty user sends none. Null counts as empty. */
void restc_set_authroization(const char* user, const char* password);

/* reserved must be null. */
int restc_get(restc_connection* connection, const char* path, const void* reserved, char* buffer,
              size_t capacity, size_t* length);
int restc_post(restc_connection* connection, const char* path, const void* reserved, char* buffer,
               size_t capacity, size_t* length);
int restc_put(restc_connection* connection, const char* path, const void* reserved, char* buffer,
              size_t capacity, size_t* length);

#ifdef __cplusplus
}
#endif
