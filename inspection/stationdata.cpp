#include "stationdata.h"

#include <algorithm>
#include <cstring>

void StationData::allocate(int width, int height, bool colour, int templatesPerDetect)
{
    if (width <= 0 || height <= 0) {
        width = 0;
        height = 0;
    }
    imageWidth = width;
    imageHeight = height;
    pixelCount = width * height;
    bufferSize = colour ? 4 * pixelCount : pixelCount;
    const std::size_t frame = std::size_t(bufferSize);
    const std::size_t plane = std::size_t(pixelCount);

    displayBuffer.assign(frame, 0);
    grabBuffer.assign(frame, 0);
    alignedBuffer.assign(frame, 0);
    lastImage.assign(frame, 0);
    greyBuffer.assign(colour ? plane : 0, 0);
    overlayMask.assign(plane, 0);
    const int samples = std::max(0, templatesPerDetect);
    for (int d = 0; d < DetectCount; ++d) {
        ignoreMasks[d].assign(plane, 0);
        templates[d].assign(std::size_t(samples), std::vector<uchar>(frame, 0));
        templateValid[d].assign(std::size_t(samples), 0);
        templateCount[d] = 0;
    }
    curTemplate = 0;

    std::fill(std::begin(roiOk), std::end(roiOk), quint8(1));
    std::fill(std::begin(roiValue), std::end(roiValue), 0);
    std::memset(roiBlobs, 0, sizeof roiBlobs);
    resultOk = 1;
    areaOk = 1;
    tempOk = 1;
    showMeasure = false;
}

cv::Mat StationData::frameHeader(std::vector<uchar>& buffer, bool colour) const
{
    const qint64 expected = qint64(pixelCount) * (colour ? 4 : 1);
    if (imageWidth <= 0 || imageHeight <= 0 || qint64(imageWidth) * imageHeight != pixelCount
        || qint64(bufferSize) != expected || qint64(buffer.size()) != expected) {
        return cv::Mat();
    }
    return cv::Mat(imageHeight, imageWidth, colour ? CV_8UC4 : CV_8UC1, buffer.data());
}

cv::Mat StationData::planeHeader(std::vector<uchar>& buffer) const
{
    if (imageWidth <= 0 || imageHeight <= 0 || qint64(imageWidth) * imageHeight != pixelCount
        || qint64(buffer.size()) != qint64(pixelCount)) {
        return cv::Mat();
    }
    return cv::Mat(imageHeight, imageWidth, CV_8UC1, buffer.data());
}
