#include "stationdata.h"

#include <algorithm>
#include <cstring>

void StationData::allocate(int width, int height, bool colour, int templatesPerDetect, int detectsInUse)
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
        const bool used = d < detectsInUse;
        ignoreMasks[d].assign(used ? plane : 0, 0);
        ignoreMasks[d].shrink_to_fit();
        templates[d].clear();
        templates[d].shrink_to_fit();
        templates[d].resize(used ? std::size_t(samples) : 0);
        templateValid[d].assign(used ? std::size_t(samples) : 0, 0);
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

uchar* StationData::occupyTemplate(int d, int k)
{
    if (d < 0 || d >= DetectCount || k < 0 || std::size_t(k) >= templates[d].size()
        || std::size_t(k) >= templateValid[d].size() || bufferSize <= 0) {
        return nullptr;
    }
    std::vector<uchar>& buffer = templates[d][std::size_t(k)];
    if (buffer.size() != std::size_t(bufferSize)) {
        buffer.assign(std::size_t(bufferSize), 0);
    }
    if (!templateValid[d][std::size_t(k)]) {
        templateValid[d][std::size_t(k)] = 1;
        ++templateCount[d];
    }
    return buffer.data();
}

void StationData::freeTemplate(int d, int k)
{
    if (d < 0 || d >= DetectCount || k < 0 || std::size_t(k) >= templates[d].size()) {
        return;
    }
    std::vector<uchar>().swap(templates[d][std::size_t(k)]);
    if (std::size_t(k) < templateValid[d].size() && templateValid[d][std::size_t(k)]) {
        templateValid[d][std::size_t(k)] = 0;
        --templateCount[d];
    }
}

int StationData::allocatedTemplates() const
{
    int n = 0;
    for (const auto& list : templates) {
        for (const auto& buffer : list) {
            n += buffer.empty() ? 0 : 1;
        }
    }
    return n;
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
