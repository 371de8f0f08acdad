#include "enginestation.h"

#include "circle.h"
#include "clustomrect.h"

#include <cstring>

namespace {

void fillLists(CammerSingleton& set)
{
    while (set.roiLists.size() < CammerSingleton::DetectCount) {
        set.roiLists.append(QList<ROIInterface*>());
    }
}

} // namespace

EngineStation::EngineStation(int width, int height, bool colour, int templates)
    : data(new StationData)
    , live(new CammerSingleton(0))
    , edit(new CammerSingleton(0))
{
    m_globals.keep(gpSystemParam);
    m_globals.keep(gTemplateCount);
    m_globals.keep(gColorMode);
    m_globals.keep(gColorToGray);
    params.clear();
    initSysParamDefaults(&params);
    // Nothing trains on construction unless a test asks for it.
    for (int d = 0; d < 4; ++d) {
        params.detectEnabled(d) = 0;
    }
    params.matchBrightness() = 0;
    params.angleCorrect() = 0;
    params.motionCorrect() = -1;
    gpSystemParam = &params;
    gTemplateCount = templates;
    gColorMode = colour ? 1 : 0;
    gColorToGray = 1;

    fillLists(*live);
    fillLists(*edit);
    data->allocate(width, height, colour, templates);
    data->pLiveSingleton = live.get();
    data->pEditSingleton = edit.get();
    data->peers = &peers;
}

EngineStation::~EngineStation() = default;

int EngineStation::addArea(int detect, int function, ROIInterface* shape, int param, int lower, int upper)
{
    const int area = live->roiCount[detect];
    const int slot = detect * CammerSingleton::AreasPerDetect + area;
    live->roiLists[detect].append(shape);
    live->roiCount[detect] = area + 1;
    live->roiFunction[slot] = function;
    live->roiParam[slot] = param;
    live->roiLower[slot] = lower;
    live->roiUpper[slot] = upper;
    live->roiShapeType[slot] = shape->type();
    data->roiMasks[slot] = shape->createMask();
    return area;
}

int EngineStation::addRect(int detect, int function, cv::Rect r, int param, int lower, int upper)
{
    return addArea(detect, function, new ClustomRect(r.x, r.y, r.x + r.width - 1, r.y + r.height - 1), param,
                   lower, upper);
}

int EngineStation::addRing(int detect, int function, int xc, int yc, int r, int rn, int param, int lower,
                           int upper)
{
    return addArea(detect, function, new Circle(xc, yc, r, rn), param, lower, upper);
}

void EngineStation::copyLiveToEdit()
{
    edit->CopyFrom(*live);
    fillLists(*edit);
    for (int s = 0; s < CammerSingleton::SlotCount; ++s) {
        data->editRoiMasks[s] = data->roiMasks[s];
    }
}

void EngineStation::setTemplate(int detect, int k, const cv::Mat& image)
{
    CV_Assert(data->occupyTemplate(detect, k) != nullptr);
    cv::Mat target = frame(data->templates[detect][std::size_t(k)]);
    CV_Assert(image.size() == target.size() && image.type() == target.type());
    image.copyTo(target);
}

void EngineStation::setIgnore(int detect, const cv::Mat& ignore)
{
    cv::Mat target = data->planeHeader(data->ignoreMasks[detect]);
    CV_Assert(ignore.size() == target.size() && ignore.type() == target.type());
    ignore.copyTo(target);
}

void EngineStation::setFrame(const cv::Mat& image)
{
    for (std::vector<uchar>* buffer : {&data->grabBuffer, &data->alignedBuffer, &data->lastImage}) {
        cv::Mat target = frame(*buffer);
        CV_Assert(image.size() == target.size() && image.type() == target.type());
        image.copyTo(target);
    }
}

cv::Mat EngineStation::frame(std::vector<uchar>& buffer) const
{
    return data->frameHeader(buffer, gColorMode != 0);
}

cv::Mat EngineStation::overlay() const
{
    return data->planeHeader(data->overlayMask);
}
