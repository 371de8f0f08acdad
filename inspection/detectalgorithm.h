#pragma once

#include "systemcounts.h"

#include "alignmodel.h"
#include "defectmodel.h"
#include "modelblock.h"
#include "similaritymodel.h"
#include "targetlocator.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <opencv2/core.hpp>

#include <vector>

class CammerSingleton;
struct StationData;
struct SystemParam;

// Why an area or a detect could not be judged; the third number of the event
// "REG RUN ERROR = camera, detect, code" in the operation log. An area that
// cannot be judged fails its detect: it is never passed as OK.
enum DetectError {
    ErrAreaMaskEmpty = -1,    // the area has no mask (no pixel to inspect)
    ErrKeepMaskEmpty = -2,    // the detect was never trained, or its ignore picture was unusable
    ErrEmptyRect = -3,        // the area's rectangle has no width or height
    ErrAreaOutsideFrame = -4, // the area's rectangle leaves the frame
    ErrMaskSize = -5,         // a mask does not have the size of its area or frame
    ErrNotTrained = -6,       // defect or similarity model without training (no valid template)
    ErrUnknownFunction = -7,  // a function number this system does not know
    ErrAreaFaulty = -8,       // the stored area or detect could not be read back
    ErrFrame = -9,            // no frame of the station's size to judge
    ErrException = -10,       // the image library gave up on the area
    ErrTemperatureRead = -11, // the thermal camera gave no usable temperature for the area
};

// The inspection engine of one camera: trains the learned models of every
// detect from the station's template samples, corrects each live frame
// (angle correction, positioning) and judges every area of a detect, writing
// the results into the station's record and handing one result record on.
//
// One camera's engine runs on one thread at a time: the GUI thread, or a
// worker of the cycle's inspection pool while the GUI thread waits for the
// batch; the engines of different cameras run side by side. Every entry
// point catches the image library's exceptions as a last line: a failure
// ends as an error result, never as a crash and never as a pass.
class DetectAlgorithm {
public:
    static constexpr int DetectCount = DetectsPerCamera;
    static constexpr int AreasPerDetect = ::AreasPerDetect;
    static constexpr int SlotCount = DetectCount * AreasPerDetect;

    // Keypoints the alignment model needs in the template.
    static constexpr int kAlignKeypoints = 300;
    // "Camera %1, detect %2: the template has too few features ...": the
    // alignment training of a detect refused its template.
    static constexpr int kAlignRefusedText = 629;

    // Keeps both pointers (neither owned) and trains every enabled detect.
    DetectAlgorithm(CammerSingleton* live, StationData* owner);
    DetectAlgorithm(const DetectAlgorithm&) = delete;
    DetectAlgorithm& operator=(const DetectAlgorithm&) = delete;

    // Retraining of one detect from the station's template samples: angle
    // correction and positioning from sample 0 (only when it is present),
    // keep mask and area models from every valid sample.
    void TrainAlign(int detect);
    void TrainLocate(int detect);
    void TrainModels(int detect);

    // grabBuffer -> alignedBuffer, corrected when angle correction is on and
    // the model aligns, else copied. Always true.
    bool RunAlign(int detect);
    // alignedBuffer -> lastImage for the cycle's current detect: moved back
    // onto the template when positioning is on and the target is found, else
    // copied.
    void RunLocate();

    // Judges every area of the detect on the station's lastImage.
    void RunDetect(int detect);
    // Measures one area of the edit set on the template sample shown, while the
    // operator edits its parameters.
    void MeasureROI(int detect, int area);

    // dst = 255 where lo <= src <= hi, else 0 (empty band when lo > hi). dst is
    // written in place when it already is 8-bit of src's size.
    static void GrayBandMask(const cv::Mat& src, cv::Mat& dst, int lo, int hi);

    // The factor brightness matching scales a frame's pixels by: the
    // template's L2 norm over the frame's, 0 for a black frame. A pixel
    // scaled by it (rounded to nearest, saturated) is the pixel of the
    // frame L2-normalised onto the template's norm.
    static double BrightnessFactor(const cv::Mat& frame, double templateNorm);

    // The default block of a frame: left W/4, top H/4, width 3W/4, height
    // 3H/4, reaching the right and bottom borders.
    static cv::Rect DefaultBlock(int width, int height);

    // What the measurement of one area found: the summed contour area (or the
    // temperature), the blob boxes kept and the similarity score.
    struct AreaMeasure {
        int value = 0;
        int boxes = 0;
        float score = 0.0f;
    };
    // The verdict on one measured area: NG or not, the value shown for it and
    // its row of the result record's details (empty for the functions that
    // list none).
    struct AreaVerdict {
        bool ng = false;
        int value = 0;
        QList<int> detail;
    };
    // Judges a measured area of a function against its limits (param, lower,
    // upper as stored with the area) and the system settings. Depends on
    // nothing else.
    static AreaVerdict JudgeArea(int function, const AreaMeasure& measured, qint32 param, qint32 lower,
                                 qint32 upper, const SystemParam& sys);

    // Opening size used for an area (at least 1).
    static int OpeningSize(int function, qint32 param, const SystemParam& sys);

    CammerSingleton* params;
    StationData* owner;
    cv::Mat keepMasks[DetectCount];
    DefectModel defectModels[SlotCount];
    SimilarityModel similarityModels[SlotCount];
    // Where each detect's keep mask and models keep their pixels.
    ModelBlock modelBlocks[DetectCount];
    AlignModel alignModels[DetectCount];
    // 0 until a training of the detect used a template; brightness matching is
    // skipped while it is 0.
    double templateNorms[DetectCount] = {};
    TargetLocator locators[DetectCount];
    qint32 locateCentreX[DetectCount] = {};
    qint32 locateCentreY[DetectCount] = {};
    // x, y, width, height; all 0 when there is none.
    qint32 searchWindows[DetectCount][4] = {};

private:
    const SystemParam& sys() const;
    void reportError(int detect, int code);
    bool colourMode() const;
    // The 8-bit picture of a frame buffer: the buffer itself in grey mode, its
    // reduction into reduced in colour mode. Empty when the buffer is unusable.
    cv::Mat greyFrame(std::vector<uchar>& buffer, std::vector<uchar>& reduced) const;
    void runDetect(int detect);
    // 0 when the area can be judged on a frame of that size, else the
    // DetectError that stops it (shape, masks, models).
    int areaError(int detect, int area, const cv::Size& frame) const;
    // Measures one judgeable area on image, drawing its blobs into overlay and
    // its boxes into the station's table; 0 or a DetectError.
    // brightness >= 0 scales the area's pixels by that factor first.
    int measureArea(int detect, int area, const cv::Mat& image, double brightness, cv::Mat& overlay,
                    AreaMeasure& out);
    void trainModels(int detect);
    void trainAlign(int detect);
    void reportAlignRefused(int detect);
    void trainLocate(int detect);
    bool locate(int detect);
    // Template sample 0 of a detect as an 8-bit frame; empty when it is not
    // present or does not have the frame's size.
    cv::Mat firstSample(int detect) const;
    // Copies a frame buffer on unchanged; false (and frameFault set) when the
    // buffers do not both hold one frame.
    bool copyFrame(const std::vector<uchar>& from, std::vector<uchar>& to);
    // Builds the raw mask A of a band function (1, 4, 5, 7, 11) from the area
    // crop P and the inspection mask M.
    void bandAreaMask(int function, qint32 param, qint32 lower, const cv::Mat& P, const cv::Mat& M,
                      cv::Mat& A);
    // B = opening of A by a size x size ellipse.
    void openMask(const cv::Mat& A, cv::Mat& B, int size);
    const cv::Mat& ellipse(int size);
    // A rows x cols 8-bit picture over buffer, which only ever grows.
    static cv::Mat scratchHeader(std::vector<uchar>& buffer, int rows, int cols);

    // Set when the correction could not produce the frame to judge (the
    // station's buffers no longer agree with its frame size); cleared by the
    // next RunAlign. RunDetect then judges nothing.
    bool frameFault = false;

    // Reused between runs so a cycle allocates as little as possible.
    std::vector<uchar> matchedBuffer;  // brightness-matched area
    std::vector<uchar> trainingGrey;   // colour templates reduced for training
    std::vector<uchar> rawScratch;     // A
    std::vector<uchar> openScratch;    // B
    std::vector<uchar> maskScratch;    // M
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Mat> ellipses;     // index = size
};
