#pragma once

#include <QtGlobal>

#include <opencv2/core.hpp>

// Synthetic camera frames for the inspection tests and benchmarks: a moulded
// plastic part (rounded plate with a notch, a through hole, a boss and a rib,
// asymmetric so every rotation is distinguishable) on brushed mould steel with
// ejector pins and a parting line, lit with a brightness gradient.
//
// The mould (background) depends only on the frame size and mouldSeed, so a
// template frame and live frames of one scene share it; the sensor noise
// depends on noiseSeed. The part is drawn analytically with sub-pixel edges, so
// fractional shifts and any angle land exactly where asked.
//
// Order of effects: part pose (dx, dy, angle) over the static mould, occluder,
// illumination, gain and offset, blur, camera motion (shift, turn and
// perspective of the whole picture), noise, rounding to 8 bits.
struct SyntheticScene {
    int width = 320;
    int height = 240;

    bool withPart = true;
    // Nominal centre of the part; negative = the frame's centre.
    double centreX = -1.0;
    double centreY = -1.0;
    // Plate size in pixels; 0 = 40 % of the frame width, 33 % of its height.
    double partWidth = 0.0;
    double partHeight = 0.0;

    // Part pose relative to the nominal one. angle is in degrees, positive =
    // turned clockwise on the screen (the sense in which the target locator
    // reports it and in which rotateImage by the same angle turns it back).
    double dx = 0.0;
    double dy = 0.0;
    double angle = 0.0;

    // Fraction of the plate's width hidden, from its right side, by a dark
    // occluder that moves with the part.
    double occlusion = 0.0;

    double illumination = 0.15;   // relative brightness change across the frame
    double gain = 1.0;
    double offset = 0.0;
    double blurSigma = 0.0;       // Gaussian, pixels; 0 = none

    // Whole-picture camera motion about the frame's centre, and a keystone that
    // narrows the top edge by perspective * width on each side.
    double cameraDx = 0.0;
    double cameraDy = 0.0;
    double cameraAngle = 0.0;     // degrees, clockwise on the screen
    double perspective = 0.0;

    double noiseSigma = 2.0;      // grey levels
    quint32 mouldSeed = 1;
    quint32 noiseSeed = 1;
};

struct SyntheticFrame {
    cv::Mat image;                 // CV_8UC1, width x height
    cv::Point2d partCentre;        // where the part's centre ended up
    double partAngle = 0.0;        // the part's turn (degrees, clockwise)
    // Maps picture coordinates before the camera motion to those after it.
    cv::Matx33d cameraHomography = cv::Matx33d::eye();
};

SyntheticFrame makeSyntheticFrame(const SyntheticScene& scene);

// The part's plate rectangle in the nominal pose, grown by margin on every side
// (clipped to the frame): the natural positioning area of the scene.
cv::Rect syntheticPartBox(const SyntheticScene& scene, int margin);
