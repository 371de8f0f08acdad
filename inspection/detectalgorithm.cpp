#include "detectalgorithm.h"

#include "cammersingleton.h"
#include "detectresult.h"
#include "imagehelpers.h"
#include "inspectionpeers.h"
#include "operatorprompt.h"
#include "roiinterface.h"
#include "stationdata.h"
#include "systemclock.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDateTime>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

bool isBandFunction(int function)
{
    return function == FuncSpot || function == FuncBlackArea || function == FuncWhiteArea
        || function == FuncWhiteNum || function == FuncReserved11;
}

// Areas that steer the frame or hide pixels; they have no verdict of their own.
bool isSteeringFunction(int function)
{
    return function == FuncIgnoreArea || function == FuncPosition || function == FuncAngleCorrect;
}

int signedLow16(qint32 value)
{
    return qint16(quint16(quint32(value) & 0xFFFFu));
}

cv::Rect boundsOf(const ROIInterface* shape)
{
    if (!shape) {
        return cv::Rect();
    }
    return cv::Rect(shape->x(), shape->y(), shape->width(), shape->height());
}

const ROIInterface* shapeAt(const CammerSingleton* set, int detect, int area)
{
    if (!set || detect < 0 || detect >= CammerSingleton::DetectCount || area < 0
        || detect >= set->roiLists.size() || area >= set->roiLists[detect].size()) {
        return nullptr;
    }
    return set->roiLists[detect][area];
}

int areaCount(const CammerSingleton* set, int detect)
{
    if (!set || detect < 0 || detect >= CammerSingleton::DetectCount) {
        return 0;
    }
    return std::clamp(set->roiCount[detect], 0, CammerSingleton::AreasPerDetect);
}

// Kernels beyond this size are not cached: only a damaged parameter asks for
// them, and the shortcut in the morphology below handles the huge ones.
constexpr int kCachedKernels = 64;

// An ellipse this large covers the whole area from any of its pixels, so the
// morphology degenerates to the area's global minimum or maximum. Computing
// that directly gives the same picture without a kernel of millions of pixels.
bool coversArea(int size, const cv::Mat& area)
{
    return size > 2 * (area.rows + area.cols) + 1;
}

void fillWhole(const cv::Mat& A, cv::Mat& B, bool anyBlack)
{
    double lo = 0.0;
    double hi = 0.0;
    cv::minMaxLoc(A, &lo, &hi);
    B.setTo(anyBlack ? lo : hi);
}

} // namespace

DetectAlgorithm::DetectAlgorithm(CammerSingleton* live, StationData* station)
    : params(live)
    , owner(station)
{
    for (int d = 0; d < DetectCount; ++d) {
        // At most four detects per camera take part in a cycle, and only
        // those the station keeps an ignore picture for are in use: the
        // others have no pictures to train on.
        if (d < 4 && sys().detectEnabled(d) != 0 && !owner->ignoreMasks[d].empty()) {
            TrainAlign(d);
            TrainLocate(d);
            TrainModels(d);
        }
    }
}

const SystemParam& DetectAlgorithm::sys() const
{
    if (gpSystemParam) {
        return *gpSystemParam;
    }
    // Only a wiring fault leaves the live record missing; the defaults are
    // the soundest stand-in and keep the engine away from a null record.
    static const SystemParam defaults = [] {
        SystemParam p{};
        initSysParamDefaults(&p);
        return p;
    }();
    return defaults;
}

bool DetectAlgorithm::colourMode() const
{
    return gColorMode != 0;
}

void DetectAlgorithm::reportError(int detect, int code)
{
    const QString text = QStringLiteral("REG RUN ERROR = %1, %2, %3").arg(owner->cameraIndex).arg(detect).arg(code);
    qWarning("%s", qPrintable(text));
    if (owner->peers) {
        owner->peers->insertRecord(text);
    }
}

cv::Mat DetectAlgorithm::greyFrame(std::vector<uchar>& buffer, std::vector<uchar>& reduced) const
{
    if (!colourMode()) {
        return owner->frameHeader(buffer, false);
    }
    const cv::Mat colour = owner->frameHeader(buffer, true);
    if (colour.empty()) {
        return cv::Mat();
    }
    if (reduced.size() != std::size_t(owner->pixelCount)) {
        reduced.assign(std::size_t(owner->pixelCount), 0);
    }
    cv::Mat grey(owner->imageHeight, owner->imageWidth, CV_8UC1, reduced.data());
    if (gColorToGray) {
        rgb32ToGray(grey.data, colour.data, grey.cols, grey.rows);
    } else {
        rgb32ToHue(grey.data, colour.data, grey.cols, grey.rows);
    }
    return grey;
}

cv::Mat DetectAlgorithm::scratchHeader(std::vector<uchar>& buffer, int rows, int cols)
{
    const std::size_t needed = std::size_t(rows) * std::size_t(cols);
    if (buffer.size() < needed) {
        buffer.resize(needed);
    }
    return cv::Mat(rows, cols, CV_8UC1, buffer.data());
}

double DetectAlgorithm::BrightnessFactor(const cv::Mat& frame, double templateNorm)
{
    // The factor cv::normalize takes for NORM_L2: 0 for a black frame, so
    // it stays black instead of being divided by zero.
    const double norm = cv::norm(frame, cv::NORM_L2);
    return norm > DBL_EPSILON ? templateNorm / norm : 0.0;
}

cv::Rect DetectAlgorithm::DefaultBlock(int width, int height)
{
    return cv::Rect(width / 4, height / 4, 3 * width / 4, 3 * height / 4);
}

int DetectAlgorithm::OpeningSize(int function, qint32 param, const SystemParam& sys)
{
    int size = 1;
    switch (function) {
    case FuncDefect:
        size = sys.showAllAlgoParams() ? param : sys.filterSize();
        break;
    case FuncSpot:
    case FuncBlackArea:
    case FuncWhiteArea:
    case FuncReserved11:
        size = sys.minSpot();
        break;
    case FuncWhiteNum:
        size = param;
        break;
    default:
        break;
    }
    // An opening of 0 or less has no meaning; 1 leaves the mask as it is.
    return std::max(1, size);
}

void DetectAlgorithm::GrayBandMask(const cv::Mat& src, cv::Mat& dst, int lo, int hi)
{
    CV_Assert(src.type() == CV_8UC1);
    dst.create(src.size(), CV_8UC1);
    // Same as the two inverted thresholds (src >= lo, src <= hi) joined by
    // AND, in one pass and without temporaries.
    const int from = std::clamp(lo, 0, 256);
    const int to = std::clamp(hi, -1, 255);
    uchar table[256];
    for (int v = 0; v < 256; ++v) {
        table[v] = (v >= from && v <= to) ? 255 : 0;
    }
    for (int y = 0; y < src.rows; ++y) {
        const uchar* s = src.ptr<uchar>(y);
        uchar* d = dst.ptr<uchar>(y);
        for (int x = 0; x < src.cols; ++x) {
            d[x] = table[s[x]];
        }
    }
}

const cv::Mat& DetectAlgorithm::ellipse(int size)
{
    if (size >= kCachedKernels) {
        ellipses.resize(kCachedKernels + 1);
        ellipses[kCachedKernels] = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(size, size));
        return ellipses[kCachedKernels];
    }
    if (int(ellipses.size()) <= size) {
        ellipses.resize(std::size_t(size) + 1);
    }
    if (ellipses[std::size_t(size)].empty()) {
        ellipses[std::size_t(size)] = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(size, size));
    }
    return ellipses[std::size_t(size)];
}

void DetectAlgorithm::openMask(const cv::Mat& A, cv::Mat& B, int size)
{
    if (size <= 1) {
        A.copyTo(B);
        return;
    }
    if (coversArea(size, A)) {
        fillWhole(A, B, true);
        return;
    }
    cv::morphologyEx(A, B, cv::MORPH_OPEN, ellipse(size), cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
}

void DetectAlgorithm::bandAreaMask(int function, qint32 param, qint32 lower, const cv::Mat& P,
                                   const cv::Mat& M, cv::Mat& A)
{
    int lo = 0;
    int hi = 255;
    switch (function) {
    case FuncSpot: {
        const int b0 = param & 0xFF;
        const int b1 = (param >> 8) & 0xFF;
        lo = std::min(b0, b1);
        hi = std::max(b0, b1);
        break;
    }
    case FuncBlackArea:
        hi = lower & 0xFF;
        break;
    default: // white area, white count, reserved 11
        lo = lower & 0xFF;
        break;
    }
    GrayBandMask(P, A, lo, hi);
    cv::bitwise_and(A, M, A);
    if (function == FuncWhiteNum) {
        const int size = std::max(1, int(param));
        if (size > 1) {
            cv::Mat closed = scratchHeader(openScratch, A.rows, A.cols);
            if (coversArea(size, A)) {
                fillWhole(A, closed, false);
            } else {
                cv::morphologyEx(A, closed, cv::MORPH_CLOSE, ellipse(size), cv::Point(-1, -1), 1,
                                 cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
            }
            closed.copyTo(A);
        }
    }
}

void DetectAlgorithm::RunDetect(int detect)
{
    try {
        runDetect(detect);
    } catch (const std::exception& e) {
        qCritical("DetectAlgorithm::RunDetect camera %d detect %d: %s", owner->cameraIndex, detect, e.what());
        owner->resultOk = 0;
        owner->areaOk = 0;
        reportError(detect, ErrException);
    }
}

DetectAlgorithm::AreaVerdict DetectAlgorithm::JudgeArea(int function, const AreaMeasure& measured, qint32 param,
                                                        qint32 lower, qint32 upper, const SystemParam& sys)
{
    AreaVerdict v;
    v.value = measured.value;
    switch (function) {
    case FuncDefect:
    case FuncReserved8:
    case FuncReserved11: {
        const int limit = sys.showAllAlgoParams() ? upper : sys.alarmArea();
        v.ng = v.value > limit || (sys.templateIsNg() && v.value < limit);
        v.detail = {function, v.value, lower, limit, param};
        break;
    }
    case FuncSpot:
        v.ng = v.value < lower || v.value > upper;
        v.detail = {FuncSpot, v.value, lower, upper, param & 0xFF, (param >> 8) & 0xFF};
        break;
    case FuncBlackArea:
    case FuncWhiteArea:
        v.ng = v.value > upper;
        break;
    case FuncSimilarity:
        v.value = int(measured.score);
        v.ng = v.value < lower;
        break;
    case FuncWhiteNum:
        v.value = measured.boxes;
        v.ng = v.value > upper;
        break;
    case FuncTempAlarm: {
        const int lo = signedLow16(lower);
        const int hi = signedLow16(upper);
        v.ng = v.value < std::min(lo, hi) || v.value > std::max(lo, hi);
        v.detail = {FuncTempAlarm, v.value, lo, hi, signedLow16(param)};
        break;
    }
    default:
        break;
    }
    return v;
}

int DetectAlgorithm::areaError(int d, int area, const cv::Size& frame) const
{
    const StationData& st = *owner;
    const int s = d * AreasPerDetect + area;
    const int function = params->roiFunction[s];
    const ROIInterface* shape = shapeAt(params, d, area);
    if (!shape) {
        return ErrAreaFaulty;
    }
    const cv::Rect R = boundsOf(shape);
    const cv::Mat& areaMask = st.roiMasks[s];
    const cv::Mat& keep = keepMasks[d];
    if (areaMask.empty()) {
        return ErrAreaMaskEmpty;
    }
    if (keep.empty()) {
        return ErrKeepMaskEmpty;
    }
    if (R.width <= 0 || R.height <= 0) {
        return ErrEmptyRect;
    }
    if ((R & cv::Rect(cv::Point(0, 0), frame)) != R) {
        return ErrAreaOutsideFrame;
    }
    if (keep.type() != CV_8UC1 || keep.size() != frame || areaMask.type() != CV_8UC1 || areaMask.size() != R.size()) {
        return ErrMaskSize;
    }
    if (function == FuncDefect && (!defectModels[s].IsTrained() || defectModels[s].Size() != R.size())) {
        return ErrNotTrained;
    }
    if (function == FuncSimilarity && (!similarityModels[s].IsTrained() || similarityModels[s].Size() != R.size())) {
        return ErrNotTrained;
    }
    return 0;
}

int DetectAlgorithm::measureArea(int d, int area, const cv::Mat& image, double brightness, cv::Mat& overlay,
                                 AreaMeasure& out)
{
    StationData& st = *owner;
    const int s = d * AreasPerDetect + area;
    const int function = params->roiFunction[s];
    const cv::Rect R = boundsOf(shapeAt(params, d, area));
    const qint32 param = params->roiParam[s];

    if (function == FuncTempAlarm) {
        const std::optional<int> temperature =
            st.peers ? st.peers->roiTemperature(d, area) : std::optional<int>();
        if (!temperature) {
            // Whatever the limits, an unread temperature must not pass for
            // one inside them.
            qWarning("DetectAlgorithm: camera %d detect %d area %d: no temperature could be read",
                     st.cameraIndex, d, area);
            return ErrTemperatureRead;
        }
        out.value = *temperature;
        st.roiBlobs[s][0] = 0;
        if (st.peers) {
            st.peers->appendCycleValue(out.value);
        }
        return 0;
    }

    cv::Mat P = image(R);
    if (brightness >= 0.0) {
        cv::Mat matched = scratchHeader(matchedBuffer, R.height, R.width);
        P.convertTo(matched, -1, brightness, 0.0);
        P = matched;
    }
    cv::Mat M = scratchHeader(maskScratch, R.height, R.width);
    cv::bitwise_and(keepMasks[d](R), st.roiMasks[s], M);
    cv::Mat A = scratchHeader(rawScratch, R.height, R.width);
    A.setTo(0);
    if (isBandFunction(function)) {
        bandAreaMask(function, param, params->roiLower[s], P, M, A);
    } else if (function == FuncDefect) {
        if (!defectModels[s].Detect(P, A)) {
            return ErrNotTrained;
        }
    } else if (function == FuncSimilarity) {
        out.score = similarityModels[s].Detect(P, A);
    }
    cv::Mat B = scratchHeader(openScratch, R.height, R.width);
    // Most areas of a good part find nothing: an empty mask opens to nothing
    // and has no contour, so the morphology is skipped.
    contours.clear();
    if (cv::countNonZero(A) > 0) {
        openMask(A, B, OpeningSize(function, param, sys()));
        cv::findContours(B, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    } else {
        B.setTo(0);
    }
    B.copyTo(overlay(R));
    qint32* table = st.roiBlobs[s];
    for (const std::vector<cv::Point>& contour : contours) {
        // Accumulated and truncated step by step, as the limits were always
        // set against.
        out.value = int(cv::contourArea(contour) + out.value);
        if (out.boxes < StationData::MaxBlobs) {
            const cv::Rect box = cv::boundingRect(contour);
            ++out.boxes;
            table[4 * out.boxes] = box.x + R.x;
            table[4 * out.boxes + 1] = box.y + R.y;
            table[4 * out.boxes + 2] = box.x + R.x + box.width;
            table[4 * out.boxes + 3] = box.y + R.y + box.height;
        }
    }
    table[0] = out.boxes;
    return 0;
}

void DetectAlgorithm::runDetect(int detect)
{
    StationData& st = *owner;
    const SystemParam& p = sys();
    if (detect < 0 || detect >= DetectCount) {
        st.resultOk = 0;
        st.areaOk = 0;
        reportError(detect, ErrFrame);
        return;
    }
    const int d = detect;

    st.resultOk = 1;
    st.areaOk = 1;
    st.tempOk = 1;
    std::fill(st.roiOk + d * AreasPerDetect, st.roiOk + (d + 1) * AreasPerDetect, quint8(1));

    DetectResult record = st.peers ? st.peers->currentResult() : DetectResult();
    record.idx_detect = d;
    record.detectstart = clockNow();
    QList<QList<int>> details;
    QList<int> flags;

    const int count = areaCount(params, d);
    // An area that cannot be judged fails its detect and is never shown as OK.
    auto failArea = [&](int slot, int function, int code) {
        st.roiOk[slot] = 0;
        st.roiValue[slot] = 0;
        st.roiBlobs[slot][0] = 0;
        st.resultOk = 0;
        if (function == FuncTempAlarm) {
            st.tempOk = 0;
        } else {
            st.areaOk = 0;
        }
        reportError(d, code);
    };
    auto handOver = [&]() {
        // A detect that failed on errors alone still leaves its row: the NG
        // must reach the records even when no area could be listed.
        if (st.peers && (!details.isEmpty() || st.resultOk == 0)) {
            record.roi_detail = details;
            record.roi_result = flags;
            record.result = st.resultOk;
            st.peers->handOverResult(record);
        }
    };

    const cv::Mat F = frameFault ? cv::Mat() : greyFrame(st.lastImage, st.greyBuffer);
    if (F.empty() || !params) {
        st.resultOk = 0;
        st.areaOk = 0;
        reportError(d, F.empty() ? ErrFrame : ErrAreaFaulty);
        for (int i = 0; params && i < count; ++i) {
            const int s = d * AreasPerDetect + i;
            if (!isSteeringFunction(params->roiFunction[s])) {
                st.roiOk[s] = 0;
                st.roiValue[s] = 0;
                st.roiBlobs[s][0] = 0;
            }
        }
        handOver();
        return;
    }
    if (params->IsDetectFaulty(d)) {
        st.resultOk = 0;
        st.areaOk = 0;
        reportError(d, ErrAreaFaulty);
    }

    // Brightness matching scales every pixel by one factor of the whole
    // frame (as an L2 normalisation onto the template's norm would), but
    // only the areas' pixels are read: each area is scaled when it is cut.
    double brightness = -1.0;
    if (p.matchBrightness() && templateNorms[d] > 0.0) {
        brightness = BrightnessFactor(F, templateNorms[d]);
    }

    if (st.overlayMask.size() != std::size_t(st.pixelCount)) {
        st.overlayMask.assign(std::size_t(st.pixelCount), 0);
    } else {
        std::fill(st.overlayMask.begin(), st.overlayMask.end(), uchar(0));
    }
    cv::Mat overlay = st.planeHeader(st.overlayMask);

    for (int i = 0; i < count; ++i) {
        const int s = d * AreasPerDetect + i;
        const int function = params->roiFunction[s];
        if (!isKnownDetectFunction(function)) {
            failArea(s, function, ErrUnknownFunction);
            continue;
        }
        if (params->roiLoadFault[s]) {
            failArea(s, function, ErrAreaFaulty);
            continue;
        }
        if (isSteeringFunction(function)) {
            st.roiValue[s] = 0;
            st.roiBlobs[s][0] = 0;
            continue;
        }
        if (const int code = areaError(d, i, F.size())) {
            failArea(s, function, code);
            continue;
        }

        AreaMeasure measured;
        try {
            if (const int code = measureArea(d, i, F, brightness, overlay, measured)) {
                failArea(s, function, code);
                continue;
            }
        } catch (const std::exception& e) {
            qCritical("DetectAlgorithm: camera %d slot %d: %s", st.cameraIndex, s, e.what());
            failArea(s, function, ErrException);
            continue;
        }

        const AreaVerdict verdict
            = JudgeArea(function, measured, params->roiParam[s], params->roiLower[s], params->roiUpper[s], p);
        st.roiValue[s] = verdict.value;
        const quint8 ok = verdict.ng ? 0 : 1;
        if (verdict.ng) {
            st.roiOk[s] = 0;
        }
        if (function == FuncTempAlarm) {
            st.tempOk &= ok;
            if (verdict.ng && !p.tempAlarmNoStop()) {
                st.resultOk = 0;
            }
        } else {
            st.areaOk &= ok;
            if (verdict.ng) {
                st.resultOk = 0;
            }
        }
        details.append(verdict.detail);
        flags.append(ok);
    }

    handOver();
}

void DetectAlgorithm::MeasureROI(int detect, int area)
{
    try {
        StationData& st = *owner;
        if (detect < 0 || detect >= DetectCount || area < 0 || area >= AreasPerDetect) {
            return;
        }
        const int d = detect;
        const int s = d * AreasPerDetect + area;

        cv::Mat image;
        if (colourMode()) {
            // The editor has put the reduction of the sample it shows here.
            image = st.planeHeader(st.greyBuffer);
        } else if (st.curTemplate >= 0 && std::size_t(st.curTemplate) < st.templates[d].size()) {
            image = st.frameHeader(st.templates[d][std::size_t(st.curTemplate)], false);
        }

        if (st.overlayMask.size() != std::size_t(st.pixelCount)) {
            st.overlayMask.assign(std::size_t(st.pixelCount), 0);
        } else {
            std::fill(st.overlayMask.begin(), st.overlayMask.end(), uchar(0));
        }
        st.roiValue[s] = 0;
        st.roiBlobs[s][0] = 0;

        const CammerSingleton* edit = st.pEditSingleton;
        if (!edit || area >= areaCount(edit, d)) {
            return;
        }
        auto repaint = [&]() {
            if (st.peers) {
                st.peers->repaintStation();
            }
        };
        const int function = edit->roiFunction[s];
        if (!isBandFunction(function) && function != FuncReserved8 && function != FuncTempAlarm) {
            repaint();
            return;
        }
        const cv::Rect R = boundsOf(shapeAt(edit, d, area));
        if (R.width <= 0 || R.height <= 0) {
            return;
        }
        const cv::Mat& areaMask = st.editRoiMasks[s];
        if (image.empty() || (R & cv::Rect(0, 0, image.cols, image.rows)) != R || areaMask.empty()
            || areaMask.type() != CV_8UC1 || areaMask.size() != R.size()) {
            repaint();
            return;
        }

        cv::Mat M = scratchHeader(maskScratch, R.height, R.width);
        const cv::Mat& keep = keepMasks[d];
        if (!keep.empty() && keep.type() == CV_8UC1 && keep.size() == image.size()) {
            cv::bitwise_and(keep(R), areaMask, M);
        } else {
            // Before the first training the area's own shape is all there is.
            areaMask.copyTo(M);
        }
        cv::Mat A = scratchHeader(rawScratch, R.height, R.width);
        A.setTo(0);
        cv::Mat B = scratchHeader(openScratch, R.height, R.width);
        B.setTo(0);
        const qint32 param = edit->roiParam[s];
        if (isBandFunction(function)) {
            bandAreaMask(function, param, edit->roiLower[s], image(R), M, A);
            openMask(A, B, OpeningSize(function, param, sys()));
        }
        cv::Mat overlay = st.planeHeader(st.overlayMask);
        B.copyTo(overlay(R));

        if (function != FuncTempAlarm) {
            cv::findContours(B, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            int value = 0;
            if (function == FuncWhiteNum) {
                value = int(contours.size());
            } else {
                for (const std::vector<cv::Point>& contour : contours) {
                    value = int(cv::contourArea(contour) + value);
                }
            }
            st.roiValue[s] = value;
        }
        st.showMeasure = true;
        repaint();
    } catch (const std::exception& e) {
        qCritical("DetectAlgorithm::MeasureROI camera %d detect %d area %d: %s", owner->cameraIndex, detect,
                  area, e.what());
    }
}

void DetectAlgorithm::TrainModels(int detect)
{
    if (detect < 0 || detect >= DetectCount) {
        return;
    }
    try {
        trainModels(detect);
    } catch (const std::exception& e) {
        // Whatever was half built is thrown away: the detect's areas then
        // report errors instead of being judged by a broken model.
        qCritical("DetectAlgorithm::TrainModels camera %d detect %d: %s", owner->cameraIndex, detect, e.what());
        for (int i = 0; i < AreasPerDetect; ++i) {
            defectModels[detect * AreasPerDetect + i].Reset();
            similarityModels[detect * AreasPerDetect + i].Reset();
        }
        keepMasks[detect].release();
    }
}

void DetectAlgorithm::trainModels(int d)
{
    StationData& st = *owner;
    // Every model of the detect lets go of the detect's block, which may move
    // below; those not trained again stay untrained.
    for (int i = 0; i < AreasPerDetect; ++i) {
        const int s = d * AreasPerDetect + i;
        defectModels[s].Init(0, 0, cv::Mat(), 0);
        similarityModels[s].Init(0, 0, cv::Mat());
    }
    keepMasks[d].release();

    const std::size_t plane = std::size_t(st.pixelCount);
    if (st.imageWidth <= 0 || st.imageHeight <= 0 || qint64(st.imageWidth) * st.imageHeight != st.pixelCount
        || st.ignoreMasks[d].size() != plane) {
        // Without an ignore picture of the frame's size there is no keep mask:
        // every area of the detect then reports an error until the station is
        // consistent again.
        qWarning("DetectAlgorithm: camera %d detect %d: ignore picture of %zu bytes for a %dx%d frame",
                 st.cameraIndex, d, st.ignoreMasks[d].size(), st.imageWidth, st.imageHeight);
        return;
    }
    const cv::Rect frameRect(0, 0, st.imageWidth, st.imageHeight);
    const int count = areaCount(params, d);

    struct ModelArea {
        int slot;
        int function;
        cv::Rect rect;
    };
    std::vector<ModelArea> areas;
    for (int i = 0; i < count; ++i) {
        const int s = d * AreasPerDetect + i;
        const int function = params->roiFunction[s];
        if (function != FuncDefect && function != FuncSimilarity) {
            continue;
        }
        const cv::Rect R = boundsOf(shapeAt(params, d, i));
        if (R.width <= 0 || R.height <= 0) {
            continue;
        }
        const cv::Mat& mask = st.roiMasks[s];
        if ((R & frameRect) != R || mask.empty() || mask.type() != CV_8UC1 || mask.size() != R.size()) {
            // Left untrained: the inspection reports the area as an error.
            continue;
        }
        areas.push_back({s, function, R});
    }

    // The keep mask and every model of the detect in one block (see
    // ModelBlock): the samples a similarity model keeps are at most the
    // detect's valid template slots.
    const std::size_t available = std::min<std::size_t>(std::size_t(std::max(0, gTemplateCount)),
                                                         std::min(st.templates[d].size(), st.templateValid[d].size()));
    const int sampleRoom = int(std::min<std::size_t>(available, std::size_t(std::max(0, st.templateCount[d]))));
    std::size_t bytes = ModelBlock::rounded(plane);
    for (const ModelArea& area : areas) {
        bytes += ModelBlock::rounded(area.function == FuncSimilarity
                                         ? SimilarityModel::StorageBytes(area.rect.width, area.rect.height, sampleRoom)
                                         : DefectModel::StorageBytes(area.rect.width, area.rect.height));
    }
    ModelBlock& block = modelBlocks[d];
    if (!block.reserve(bytes)) {
        // Each model then takes blocks of its own, as it can.
        qWarning("DetectAlgorithm: camera %d detect %d: no block of %zu bytes for the models", st.cameraIndex, d,
                 bytes);
    }

    const cv::Mat ignore(st.imageHeight, st.imageWidth, CV_8UC1, st.ignoreMasks[d].data());
    cv::Mat keep;
    if (uchar* piece = block.take(plane)) {
        keep = cv::Mat(st.imageHeight, st.imageWidth, CV_8UC1, piece);
        ignore.copyTo(keep);
    } else {
        keep = ignore.clone();
    }
    for (int i = 0; i < count; ++i) {
        const int s = d * AreasPerDetect + i;
        if (params->roiFunction[s] != FuncIgnoreArea) {
            continue;
        }
        const cv::Rect R = boundsOf(shapeAt(params, d, i));
        if (R.width <= 0 || R.height <= 0) {
            continue;
        }
        const cv::Mat& mask = st.roiMasks[s];
        if (mask.empty() || mask.type() != CV_8UC1 || mask.size() != R.size()) {
            qWarning("DetectAlgorithm: camera %d slot %d: ignore area without a fitting mask", st.cameraIndex, s);
            continue;
        }
        // The part inside the frame still ignores its pixels.
        const cv::Rect inside = R & frameRect;
        if (inside.empty()) {
            continue;
        }
        mask(inside - R.tl()).copyTo(keep(inside));
    }
    cv::bitwise_not(keep, keep);
    keepMasks[d] = keep;

    // One scratch mask for all areas: the models copy it into their storage.
    cv::Mat modelMask;
    for (const ModelArea& area : areas) {
        const cv::Rect& R = area.rect;
        cv::bitwise_and(keep(R), st.roiMasks[area.slot], modelMask);
        if (area.function == FuncSimilarity) {
            uchar* piece = block.take(SimilarityModel::StorageBytes(R.width, R.height, sampleRoom));
            similarityModels[area.slot].Init(R.width, R.height, modelMask, piece, sampleRoom);
        } else {
            uchar* piece = block.take(DefectModel::StorageBytes(R.width, R.height));
            defectModels[area.slot].Init(R.width, R.height, modelMask, 0, piece);
        }
    }
    if (areas.empty()) {
        return;
    }

    int used = 0;
    cv::Mat lastSample;
    // Grey samples are the template slots themselves, which stay as they are
    // until the models are built below: they are gathered first and every
    // area then learns from them on its own, all areas at once on the
    // machine's cores (the outputs are withdrawn while the models are built,
    // and the first training of eight cameras must not hold the GUI thread
    // for seconds). A reduced colour sample is overwritten by the next one:
    // each is handed to every area in turn and copied where it is kept.
    const bool colour = colourMode();
    std::vector<cv::Mat> slotSamples;
    for (std::size_t k = 0; k < available && used < st.templateCount[d]; ++k) {
        if (!st.templateValid[d][k]) {
            continue;
        }
        // Colour samples are reduced into the engine's own buffer: the station's
        // grey buffer holds what the area editor is showing.
        const cv::Mat sample = greyFrame(st.templates[d][k], trainingGrey);
        if (sample.empty()) {
            qWarning("DetectAlgorithm: camera %d detect %d: template %zu does not have the frame's size",
                     st.cameraIndex, d, k);
            continue;
        }
        const bool inSlot = sample.data == st.templates[d][k].data();
        if (!colour && inSlot) {
            slotSamples.push_back(sample);
        } else {
            for (const ModelArea& area : areas) {
                if (area.function == FuncSimilarity) {
                    similarityModels[area.slot].AddSample(sample(area.rect));
                } else if (inSlot) {
                    defectModels[area.slot].AddSampleShared(sample(area.rect));
                } else {
                    defectModels[area.slot].AddSample(sample(area.rect));
                }
            }
        }
        lastSample = sample;
        ++used;
    }
    // The brightness reference is the last sample used; taken once, not
    // for every sample only to be overwritten.
    if (!lastSample.empty()) {
        templateNorms[d] = cv::norm(lastSample, cv::NORM_L2);
    }
    const int factor = sys().diffFactor();
    std::atomic<bool> failed{false};
    std::string failure;
    std::mutex failureMutex;
    cv::parallel_for_(cv::Range(0, int(areas.size())), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
            const ModelArea& area = areas[std::size_t(i)];
            try {
                if (area.function == FuncSimilarity) {
                    SimilarityModel& model = similarityModels[area.slot];
                    for (const cv::Mat& sample : slotSamples) {
                        model.AddSample(sample(area.rect));
                    }
                    model.Train();
                } else {
                    DefectModel& model = defectModels[area.slot];
                    for (const cv::Mat& sample : slotSamples) {
                        model.AddSampleShared(sample(area.rect));
                    }
                    model.Train(params->roiLower[area.slot], factor, 100, 150);
                }
            } catch (const std::exception& e) {
                // Handed on to TrainModels, which throws the half-built
                // models away.
                std::lock_guard<std::mutex> lock(failureMutex);
                failure = e.what();
                failed = true;
            }
        }
    });
    if (failed) {
        throw std::runtime_error(failure);
    }
    if (used == 0) {
        qWarning("DetectAlgorithm: camera %d detect %d: no valid template to train from", st.cameraIndex, d);
    }
}

void DetectAlgorithm::TrainAlign(int detect)
{
    if (detect < 0 || detect >= DetectCount) {
        return;
    }
    try {
        trainAlign(detect);
    } catch (const std::exception& e) {
        qCritical("DetectAlgorithm::TrainAlign camera %d detect %d: %s", owner->cameraIndex, detect, e.what());
        // An empty template leaves the model refusing to align.
        alignModels[detect].Train(cv::Mat(), cv::Mat(), kAlignKeypoints);
    }
}

void DetectAlgorithm::trainAlign(int d)
{
    if (!sys().angleCorrect() || colourMode()) {
        return;
    }
    StationData& st = *owner;
    // Sample 0 is the reference the frames are turned back onto; when it is
    // missing the model is left untrained and frames pass unaligned.
    const cv::Mat T = firstSample(d);
    if (T.empty()) {
        qWarning("DetectAlgorithm: camera %d detect %d: no valid template 0 to align to", st.cameraIndex, d);
        alignModels[d].Train(cv::Mat(), cv::Mat(), kAlignKeypoints);
        return;
    }
    const cv::Rect frameRect(0, 0, T.cols, T.rows);
    cv::Mat K = cv::Mat::zeros(T.size(), CV_8UC1);
    bool any = false;
    cv::Rect last;
    const int count = areaCount(params, d);
    for (int i = 0; i < count; ++i) {
        const int s = d * AreasPerDetect + i;
        if (params->roiFunction[s] != FuncAngleCorrect) {
            continue;
        }
        any = true;
        last = boundsOf(shapeAt(params, d, i));
        const cv::Mat& mask = st.roiMasks[s];
        const cv::Rect inside = last & frameRect;
        if (inside.empty() || mask.type() != CV_8UC1 || mask.size() != last.size()) {
            continue;
        }
        mask(inside - last.tl()).copyTo(K(inside));
    }
    if (!any || last.width <= 0 || last.height <= 0) {
        K(DefaultBlock(T.cols, T.rows)).setTo(255);
    }
    if (!alignModels[d].Train(T, K, kAlignKeypoints)) {
        reportAlignRefused(d);
    }
}

void DetectAlgorithm::reportAlignRefused(int d)
{
    // A plain, low-texture part: frames of this detect now pass unaligned.
    // The operator relies on angle correction against a knocked camera, so
    // a silent refusal would leave them believing it is there.
    const QString text = textOf(kAlignRefusedText).arg(owner->cameraIndex + 1).arg(d + 1);
    QString line = text;
    line.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    line = line.simplified();
    qWarning("%s", qPrintable(line));
    if (owner->peers) {
        owner->peers->insertRecord(line);
    }
    warnOperator(text);
}

void DetectAlgorithm::TrainLocate(int detect)
{
    if (detect < 0 || detect >= DetectCount) {
        return;
    }
    try {
        trainLocate(detect);
    } catch (const std::exception& e) {
        qCritical("DetectAlgorithm::TrainLocate camera %d detect %d: %s", owner->cameraIndex, detect, e.what());
        locators[detect].Setup(cv::Mat(), 0, 0, 0, 0, cv::Mat());
    }
}

void DetectAlgorithm::trainLocate(int d)
{
    const SystemParam& p = sys();
    if (p.motionCorrect() == -1 || colourMode()) {
        return;
    }
    StationData& st = *owner;
    const int W = st.imageWidth;
    const int H = st.imageHeight;

    cv::Rect R;
    cv::Mat mask;
    const int count = areaCount(params, d);
    for (int i = 0; i < count; ++i) {
        const int s = d * AreasPerDetect + i;
        if (params->roiFunction[s] == FuncPosition) {
            R = boundsOf(shapeAt(params, d, i));
            mask = st.roiMasks[s];
            break;
        }
    }
    if (R.width <= 0 || R.height <= 0) {
        R = DefaultBlock(W, H);
        mask = cv::Mat(R.height, R.width, CV_8UC1, cv::Scalar(255));
    }
    locateCentreX[d] = R.x + R.width / 2;
    locateCentreY[d] = R.y + R.height / 2;

    const int rotate = p.rotateCorrect();
    const int range = (rotate >= 1 && rotate <= 180) ? rotate : p.motionCorrect();
    const cv::Mat T = firstSample(d);
    const bool fits = !T.empty() && (R & cv::Rect(0, 0, T.cols, T.rows)) == R && mask.type() == CV_8UC1
        && mask.size() == R.size();
    if (!fits) {
        // Nothing sound to search for: the locator is left not ready and the
        // frame passes unshifted.
        qWarning("DetectAlgorithm: camera %d detect %d: no valid template 0 or positioning area to locate with",
                 st.cameraIndex, d);
        locators[d].Setup(cv::Mat(), 0, range, locateCentreX[d], locateCentreY[d], cv::Mat());
    } else {
        locators[d].Setup(T(R), 0, range, locateCentreX[d], locateCentreY[d], mask);
    }

    // Search window: R grown by the largest offset on every side, clipped to
    // the frame (in 64 bits, so a huge offset cannot wrap around).
    const qint64 m = p.maxOffset();
    const qint64 left = std::max<qint64>(R.x - m, 0);
    const qint64 width = std::min<qint64>(W, R.x - m + R.width + 2 * m) - left;
    const qint64 top = std::max<qint64>(R.y - m, 0);
    const qint64 height = std::min<qint64>(H, R.y - m + R.height + 2 * m) - top;
    if (width <= 0 || height <= 0) {
        searchWindows[d][0] = searchWindows[d][1] = searchWindows[d][2] = searchWindows[d][3] = 0;
    } else {
        searchWindows[d][0] = qint32(left);
        searchWindows[d][1] = qint32(top);
        searchWindows[d][2] = qint32(width);
        searchWindows[d][3] = qint32(height);
    }
}

cv::Mat DetectAlgorithm::firstSample(int d) const
{
    StationData& st = *owner;
    if (st.templates[d].empty() || st.templateValid[d].empty() || !st.templateValid[d][0]) {
        return cv::Mat();
    }
    return st.frameHeader(st.templates[d][0], false);
}

// Copies the frame on unchanged; false when the two buffers do not both hold
// one frame (the station's frame size changed under the engine).
bool DetectAlgorithm::copyFrame(const std::vector<uchar>& from, std::vector<uchar>& to)
{
    const std::size_t size = std::size_t(std::max(0, owner->bufferSize));
    if (size == 0 || from.size() != size || to.size() != size) {
        frameFault = true;
        return false;
    }
    std::copy(from.begin(), from.end(), to.begin());
    return true;
}

bool DetectAlgorithm::RunAlign(int detect)
{
    StationData& st = *owner;
    frameFault = false;
    try {
        if (detect >= 0 && detect < DetectCount && sys().angleCorrect() && !colourMode()) {
            cv::Mat newest = st.frameHeader(st.grabBuffer, false);
            cv::Mat aligned = st.frameHeader(st.alignedBuffer, false);
            if (!newest.empty() && !aligned.empty() && alignModels[detect].Align(newest, aligned, 0.4f)) {
                return true;
            }
        }
    } catch (const std::exception& e) {
        qCritical("DetectAlgorithm::RunAlign camera %d detect %d: %s", st.cameraIndex, detect, e.what());
    }
    copyFrame(st.grabBuffer, st.alignedBuffer);
    return true;
}

void DetectAlgorithm::RunLocate()
{
    StationData& st = *owner;
    const int d = st.peers ? st.peers->currentDetect() : 0;
    try {
        if (d >= 0 && d < DetectCount && locate(d)) {
            return;
        }
    } catch (const std::exception& e) {
        qCritical("DetectAlgorithm::RunLocate camera %d detect %d: %s", st.cameraIndex, d, e.what());
    }
    copyFrame(st.alignedBuffer, st.lastImage);
}

bool DetectAlgorithm::locate(int d)
{
    const SystemParam& p = sys();
    if (p.motionCorrect() == -1 || !locators[d].IsReady() || colourMode()) {
        return false;
    }
    StationData& st = *owner;
    cv::Mat aligned = st.frameHeader(st.alignedBuffer, false);
    cv::Mat judged = st.frameHeader(st.lastImage, false);
    const cv::Rect window(searchWindows[d][0], searchWindows[d][1], searchWindows[d][2], searchWindows[d][3]);
    if (aligned.empty() || judged.empty() || window.width <= 0 || window.height <= 0
        || (window & cv::Rect(0, 0, aligned.cols, aligned.rows)) != window) {
        return false;
    }
    // The search reads the window in place: it only reads, row by row, and
    // mirrors at the window's own borders, so a copy would change nothing.
    const cv::Mat search = aligned(window);
    int dx = 0;
    int dy = 0;
    double angle = 0.0;
    if (!locators[d].Locate(search, dx, dy, angle)) {
        return false;
    }
    dx -= window.x;
    dy -= window.y;
    const int rotate = p.rotateCorrect();
    if (rotate >= 1 && rotate <= 180) {
        return rotateImage(aligned, judged, dx, dy, locateCentreX[d], locateCentreY[d], angle)
            && judged.data == st.lastImage.data();
    }
    return shiftImage(aligned, judged, dx, dy);
}
