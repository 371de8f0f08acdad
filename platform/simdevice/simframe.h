#pragma once

// Frames of the simulated cameras: what a sensor streams, the conversions the
// vendor libraries perform, and the check that tells a whole, current frame
// from a torn, stale or misdelivered one after any conversion.
//
// Every frame is built from 2 x 2 cells. Cells are grey (red = green = blue),
// so a Bayer mosaic, a demosaic, a luminance reduction, a channel swap or a
// grey expansion all keep a cell's value, and a frame can be checked without
// knowing which of them the driver applied. The first cell row carries a
// stamp (device and sequence number) and three pure colour cells (red, green,
// blue) that show whether colour output kept its channel order. Every other
// cell mixes the device's fixed pattern with a byte of the sequence number, so
// a frame stitched from two deliveries, or one left half written, no longer
// matches the stamp it carries.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace simdev {

enum class PixelFormat : int {
    Mono8,     // 1 byte per pixel
    BayerRG8,  // 1 byte per pixel, rows R G R G ... / G B G B ...
    Rgb8,      // 3 bytes per pixel: red, green, blue
};

int bytesPerPixel(PixelFormat format);
const char* formatName(PixelFormat format);
std::size_t frameBytes(int width, int height, PixelFormat format);

// Smallest frame that holds the stamp and the colour cells. Sizes are even:
// the mosaic repeats every two pixels.
constexpr int kMinimumWidth = 24;
constexpr int kMinimumHeight = 2;
bool validFrameSize(int width, int height);

// Writes frame `sequence` of device `device` (frameBytes bytes).
void renderFrame(int device, std::uint32_t sequence, int width, int height, PixelFormat format,
                 unsigned char* out);

// renderFrame at the speed of a camera: keeps the parts of the frame that do
// not change from one sequence number to the next. One per frame thread.
class FrameRenderer {
public:
    void render(int device, std::uint32_t sequence, int width, int height, PixelFormat format, unsigned char* out);

private:
    int m_device = -1;
    int m_width = 0;
    int m_height = 0;
    PixelFormat m_format = PixelFormat::Mono8;
    std::vector<unsigned char> m_base;  // the frame whose sequence byte is 0
    std::vector<unsigned char> m_mask;  // 0xFF where the sequence byte goes in
};

// What the simulated libraries do to a frame: to Rgb8 (demosaic, grey
// replicated, copy) or to Mono8 (luminance 77 R + 150 G + 29 B over 256, a
// copy of Mono8). BayerRG8 is no target. False when the conversion is not
// offered or the size is not valid.
bool convertFrame(const unsigned char* source, PixelFormat from, int width, int height, unsigned char* destination,
                  PixelFormat to);

// How a driver hands a frame on.
enum class Output {
    Grey8,   // 1 byte per pixel
    Bgra32,  // 4 bytes per pixel: blue, green, red, 0
};

struct FrameCheck {
    bool whole = false;       // stamp and every checked pixel agree
    int device = -1;          // from the stamp (-1 when there is none)
    std::uint32_t sequence = 0;
    std::string problem;      // why not whole
};

// Checks a frame as a driver delivered it. colourCells: the source was a
// colour sensor and the output is Bgra32, so the three colour cells must come
// out as pure blue-green-red channels in place. rowStep > 1 checks every
// rowStep-th row (and the first and last), for frames too big to check whole
// at speed.
FrameCheck checkFrame(const unsigned char* frame, int width, int height, Output output, bool colourCells,
                      int rowStep = 1);

} // namespace simdev
