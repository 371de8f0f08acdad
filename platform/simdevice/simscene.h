#pragma once

// A scene that a simulated device films in place of its stamped test pattern:
// one of a few stored pictures, chosen while the device streams by a small
// text file that another program (a demo's machine simulator) rewrites. The
// file holds the index of the picture to show; a missing, empty or unreadable
// file, or an index out of range, shows the first picture.
//
// Pictures are read once, converted to grey and fitted to the sensor's size;
// a sensor's mosaic of a grey scene is the grey scene itself, so every format
// is a copy (Rgb8: the grey value thrice).

#include "simframe.h"

#include <mutex>
#include <string>
#include <vector>

namespace simdev {

class PictureScene {
public:
    PictureScene(std::vector<std::string> pictures, std::string selectFile);

    // Writes the chosen picture into `out` (frameBytes of that size and
    // format); false when no picture could be read, and `out` is untouched.
    bool render(int width, int height, PixelFormat format, unsigned char* out);

    // The index the select file asks for now (0 when it asks for none).
    int selected() const;

private:
    const std::vector<std::string> m_pictures;
    const std::string m_selectFile;
    std::mutex m_mutex;
    // Per picture: grey pixels at m_width x m_height; empty when unreadable.
    std::vector<std::vector<unsigned char>> m_grey;
    int m_width = 0;
    int m_height = 0;
    std::vector<bool> m_reported;
};

} // namespace simdev
