#pragma once

#include <opencv2/core.hpp>

#include <QString>

#include <vector>

// Synthetic camera pictures of an open injection mould, for the demo's
// simulated cameras and for tests: a grey 1920 x 1080 view of the moving mould
// half with its cavities, and the same view with a moulded part left behind
// in one cavity. Both pictures of a camera are identical outside that cavity
// (same texture, light and sensor noise), so an inspection that compares them
// finds exactly one bad cavity.

struct MouldLayout {
    enum CavityShape { Rectangular, Round };

    cv::Rect plate;                // the mould plate's face
    CavityShape shape = Rectangular;
    std::vector<cv::Rect> cavities;  // each cavity's pocket (round: the circle's bounding box)
    int partCavity = 0;            // the cavity where the part stayed
    unsigned seed = 1;             // texture and noise
};

constexpr int kMouldPictureWidth = 1920;
constexpr int kMouldPictureHeight = 1080;

// The view of simulated camera 0 (four rectangular cavities) or 1 (eight round ones).
MouldLayout mouldLayout(int camera);

// The open, empty mould and the same mould with a part left in
// layout.partCavity (CV_8UC1, 1920 x 1080 each); either may be null.
void renderMouldPictures(const MouldLayout& layout, cv::Mat* openMould, cv::Mat* partLeft);

// Writes both cameras' pictures as the bitmaps the simulated cameras replay:
// "cammer15/template0.bmp" (empty mould) and "cammer15/template1.bmp" (part
// left) for camera 0, the same in "cammer25" for camera 1, 8-bit grey.
// Returns false (with a message in error) when a file cannot be written.
bool writeMouldPictures(const QString& folder, QString* error = nullptr);
