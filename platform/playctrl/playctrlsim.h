#pragma once

// Test side of the stream decoder stand-in, and the stream format that the
// simulated network cameras send and it decodes.
//
// Stream header (data type 1), kStreamHeaderBytes bytes, 32-bit little-endian
// values: "KVSH", version 1, width, height, device, channel.
// Stream data (data type 2), kStreamPacketBytes bytes: "KVSD", sequence,
// width, height, device, channel. One packet is one picture; its size may
// differ from the header's (a device that changed its resolution).
//
// A decoded picture is YV12 with both chroma planes at 128, so every
// conversion keeps its grey values. Each value is a 4-bit number n stored as
// 16 n + 8, so a conversion that is off by a few steps still reads back. Row
// 0 starts with the stamp: 2 values of device, 2 of channel, 8 of the
// sequence number (high nibble first); every other value of row r is
// pictureNibble(device, channel, sequence, r), so a picture stitched from two
// pictures, or delivered to the wrong driver, no longer matches its stamp.

#include "simdevice.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr unsigned kStreamHeaderBytes = 40;
constexpr unsigned kStreamPacketBytes = 24;
// Pictures waiting for the decoder before input is refused with
// PLAYM4_BUF_OVER.
constexpr int kDecoderQueuePictures = 16;

struct StreamPacket {
    bool header = false;
    std::uint32_t sequence = 0;
    int width = 0;
    int height = 0;
    int device = 0;
    int channel = 0;
};

std::vector<unsigned char> encodeStreamHeader(int width, int height, int device, int channel);
std::vector<unsigned char> encodeStreamPacket(std::uint32_t sequence, int width, int height, int device,
                                              int channel);
// False for anything that is not a whole header or packet.
bool decodeStreamPacket(const unsigned char* data, std::size_t bytes, StreamPacket* out);

int pictureNibble(int device, int channel, std::uint32_t sequence, int row);
// Writes a YV12 picture of width x height (even, width at least 12).
void renderStreamPicture(const StreamPacket& packet, unsigned char* yv12);

struct PictureCheck {
    bool whole = false;
    int device = -1;
    int channel = -1;
    std::uint32_t sequence = 0;
    std::string problem;
};
// Checks a converted picture: 1 byte per pixel, or 4 (blue, green, red, 0).
// Every rowStep-th row (and the last) is checked at its first, middle and
// last pixel.
PictureCheck checkStreamPicture(const unsigned char* frame, int width, int height, int bytesPerPixel,
                                int rowStep = 1);

// A device whose pictures show a scene instead of the stamped pattern (the
// devices of the devices file): the renderer fills the packet's YV12 picture.
// Runs on the decoder threads. An empty one gives the pattern back.
using PictureRenderer = std::function<void(const StreamPacket& packet, unsigned char* yv12)>;
void playctrlSetRenderer(int device, PictureRenderer renderer);

// The decoder library's world: the call log and injected failures
// (failNext("PlayM4_InputData", PLAYM4_BUF_OVER), ...).
simdev::Simulator& playctrlSimulator();
// Ports taken and not freed; pictures handed to display callbacks.
int playctrlPortsInUse();
std::uint64_t playctrlPicturesDisplayed();
// Forgets every port (closing them) and resets the simulator: for tests.
void playctrlReset();
