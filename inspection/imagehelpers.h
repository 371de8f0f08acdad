#pragma once

#include <QPoint>
#include <QRect>
#include <QtGlobal>

#include <opencv2/core.hpp>

// Pixel helpers shared by the inspection, the camera stations, the area shapes
// and the camera drivers. None keeps state, so every one may be called from any
// thread (the colour reductions also run on a driver's stream thread).
//
// A 4-byte pixel is read as a little-endian 32-bit word: byte 0 (first in
// memory) is bits 0..7. Byte 0 carries the red weight and byte 2 the blue one in
// both reductions. That is the reverse of OpenCV's BGRA convention, and it is on
// purpose: every template and every stored limit was taken with these exact
// weights, so cv::cvtColor must never stand in for them.
//
// Buffer functions return false and write nothing when a pointer is null or a
// size is not positive.

// floor(i * w * 1024) for w = 0.299, 0.587, 0.114; table k weighs byte k.
extern const qint32 (&gGrayWeightTables)[3][256];

bool rgb32ToGray(uchar* gray, const uchar* rgb32, int width, int height);
// Hexcone hue with a full turn spanning 255; a grey pixel gives 0.
bool rgb32ToHue(uchar* hue, const uchar* rgb32, int width, int height);
// Each pixel becomes v, v, v, 0.
bool grayToRgb32(const uchar* gray, uchar* rgb32, int width, int height);

// cv::Mat forms of the reductions: src must be CV_8UC4; dst is (re)allocated as
// CV_8UC1 of src's size unless it already is one, in which case it is written in
// place. Non-continuous matrices (crops) are handled row by row.
bool rgb32ToGray(const cv::Mat& src, cv::Mat& dst);
bool rgb32ToHue(const cv::Mat& src, cv::Mat& dst);

// dst(x, y) = src(x - shiftX, y - shiftY), 0 where that lies outside src.
// dst must already have src's size and type and is written in place, so a
// header over a caller's buffer receives the result. dst may share src's pixels.
// Any element type; returns false (dst untouched) when the preconditions fail.
bool shiftImage(cv::Mat src, cv::Mat dst, int shiftX, int shiftY);

// Shifts src by (shiftX, shiftY), then turns it by angle degrees (positive is
// counter-clockwise on screen) about (centreX, centreY). The work is done on a
// copy padded to the diagonal so the corners survive until the final cut back to
// src's size. The result goes into dst in place when dst already has src's size
// and type, else dst is reallocated. Returns false (dst untouched) for an empty
// src.
bool rotateImage(cv::Mat src, cv::Mat& dst, int shiftX, int shiftY, int centreX, int centreY,
                 double angle);

// Keeps coordinates three pixels away from the left/top border and at most
// (size - 3): v <= 2 becomes 3, v above (horizontal ? width : height) - 3 becomes
// that limit.
void clampCoordinate(int* v, bool horizontal, int width, int height);

// Puts a rectangle (inclusive right/bottom) inside the image with the same
// 3-pixel margin. keepSize slides it in; otherwise each edge is clamped alone.
void clampRectToImage(QRect& rect, int width, int height, bool keepSize);

// Touch tolerances are limited to [3, 50] and compared strictly.
int clampTolerance(int tolerance);
bool isNear(int a, int b, int tolerance);
bool isNearEdge(int a, int b, int c, int low, int high, int tolerance);
bool isNearPoint(QPoint p, QPoint q, int tolerance);
