#pragma once

#include <optional>

#include "cammersingleton.h"
#include "inspectionpeers.h"
#include "stationdata.h"
#include "systemcounts.h"

#include <QMetaType>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QRgb>

#include <functional>
#include <memory>
#include <vector>

class CameraInterface;
class DetectAlgorithm;
class QTimer;
class QWidget;
class ROIInterface;

// Reading and writing the station's bitmaps. Rows are copied one by one: BMP
// rows are padded to four bytes, the station's frames are not.
namespace StationBitmap {
// Reads a width x height bitmap as bytesPerPixel (1 or 4) bytes per pixel
// into out (width * height * bytesPerPixel bytes). Only a file of exactly that
// size and of depth 8 * bytesPerPixel counts; false leaves out alone.
bool readFrame(const QString& path, int width, int height, int bytesPerPixel, uchar* out);
// Reads a width x height bitmap of any depth as 8-bit grey (an indexed 8-bit
// file gives its indices, others are converted); false when it cannot be read
// or has another size.
bool readGrey(const QString& path, int width, int height, uchar* out);
// Writes the frame as an 8-bit indexed bitmap with the colour table, or as a
// 32-bit bitmap, atomically: a failed write leaves the old file and returns
// false. A missing folder is created.
bool write(const QString& path, const uchar* data, int width, int height, int bytesPerPixel,
           const QVector<QRgb>& grayTable);
} // namespace StationBitmap

// One camera's station: every frame, template sample, ignore mask and area
// result of the camera passes through it. It owns the camera's StationData and
// is the engine's InspectionPeers; the main window is reached through the
// registered StationHost. GUI thread only.
//
// The widget that shows the station (CammerWidget) sets the repaint and
// panel handlers and the scale factors; everything else is here so a test
// can drive it without a screen.
class CameraStation : public InspectionPeers {
public:
    static constexpr int RecentPictures = 3;
    static constexpr int MaxPolygonPoints = 8096;
    static constexpr int DetectCount = DetectsPerCamera;

    // Builds the station over an opened driver. display is the widget the
    // driver may paint into (null without one).
    CameraStation(int camera, CameraInterface* driver, QWidget* display = nullptr);
    ~CameraStation() override;
    CameraStation(const CameraStation&) = delete;
    CameraStation& operator=(const CameraStation&) = delete;

    // Station folder of a detect: "./cammer<camera + 1><detect + 1>".
    QString folder(int detect) const;
    QString templatePath(int detect, int sample) const;
    QString ignorePath(int detect) const;

    // Frames and the camera.
    bool GrabFrame();
    // A streaming camera that stays reachable but has delivered nothing new
    // for its frame interval plus marginMs (or nothing since sinceMs minus
    // that time): its newest frame says nothing about the mould now.
    // Replayed pictures and externally triggered cameras never stall.
    bool streamStalled(qint64 nowMs, qint64 marginMs, qint64 sinceMs = -1) const;
    void TimerFPS();
    void ApplyCameraSettings();
    void SetExposure(bool fromEdit);
    void SetGain(bool fromEdit);
    void SetSharpness(bool fromEdit);
    void SetContrast(bool fromEdit);
    void SetGamma(bool fromEdit);
    void SetMirror(bool fromEdit);
    void SetAutoWDR(bool fromEdit);
    void SetTriggerMode(int mode);
    void OnceWhiteBalance();
    void RestartGrab(int ignored = 0);
    void StopGrab();
    void CloseCamera();
    void LoadCameraDefaults();

    // Thermal cameras.
    // The area's temperature, 0 when the camera gave none (for the screens);
    // the engine reads through roiTemperature, where a failed read stays one.
    int GetROITemperature(int detect, int area);
    void SendROIParaToCamera();

    // Area sets and masks.
    void CopyMaskToEdit();
    void CopyMaskToLive();
    void CopyPara();
    void SaveNewROI();
    void SavePolygon();
    void DeleteROI(int area);
    void ClearSelection();
    bool FindSelectedROI();
    bool SaveIgnoreMask(int detect);
    // Copies the edit picture of the detect's ignore mask over the live one
    // and writes the file: what a confirmed area save does.
    bool CommitIgnoreMask(int detect);
    void UpdateParaPanel();

    // Templates.
    bool LoadTemplates(int detect);
    void LoadIgnoreMasks();
    bool SaveReTrainImage(int detect);
    // Occupies sample slot k with the frame in source (bufferSize bytes) and
    // writes its file; false (slot unchanged) when the write fails.
    bool StoreTemplate(int detect, int k, const uchar* source);
    // Frees sample slot k and removes its file.
    void RemoveTemplate(int detect, int k);

    void ProbePixel(int x, int y);
    // The frame point under a widget point (the editor's touch mapping).
    QPoint framePoint(int x, int y) const;

    // InspectionPeers, over the host.
    int currentDetect() override;
    void insertRecord(const QString& text) override;
    void appendCycleValue(int value) override;
    std::optional<int> roiTemperature(int detect, int area) override;
    DetectResult currentResult() override;
    void handOverResult(const DetectResult& result) override;
    void repaintStation() override;
    // The records' current record takes this camera's index, before the
    // engine copies it as the base of its result. Nothing is written.
    void stampCamera();

    StationData data;
    std::unique_ptr<CammerSingleton> pLiveSingleton;
    std::unique_ptr<CammerSingleton> pEditSingleton;
    std::unique_ptr<DetectAlgorithm> pDetector;

    char serialText[64] = {};
    QString driverId;
    bool cameraOpen = false;
    float imageScaleX = 1.0f;
    float imageScaleY = 1.0f;
    float screenScaleX = 1.0f;
    float screenScaleY = 1.0f;
    std::vector<quint32> viewBuffer;

    // Editing state (the view's editor drives it).
    int editAction = 0;
    bool polygonDrawing = false;
    ROIInterface* drawingShape = nullptr; // owned until committed
    std::vector<QPoint> polygonPoints = std::vector<QPoint>(MaxPolygonPoints);
    int pointCount = 0;
    int selectedRoi = -1;
    int lastSelectedRoi = -1;

    bool operatorHandled[DetectCount] = {};
    bool samplePending[DetectCount] = {};
    // Per detect: the edited ignore picture; the live one (data.ignoreMasks)
    // changes only with a confirmed save.
    std::vector<uchar> editIgnoreMasks[DetectCount];
    std::vector<uchar> recentImages[DetectCount][RecentPictures];
    int recentIndex = 0;
    int recentCount[DetectCount] = {};
    int blinkState = 0;
    int frameCount = 0;
    // When the newest frame arrived (monotonic milliseconds; -1 before the
    // first), and whether a stall of the stream has been told.
    qint64 lastFrameMs = -1;
    bool stallTold = false;
    bool online = true;
    bool isThermal = false;
    bool isSimulated = false;
    bool grabbing = false;
    int lostCount = 1;
    CameraInterface* pDriver = nullptr;
    QTimer* fpsTimer = nullptr;

    // Set by the widget: repaint the station, refill the editor panel.
    std::function<void()> repaintHandler;
    std::function<void()> paraPanelHandler;

private:
    std::optional<int> readTemperature(int d, int i);
    bool colourMode() const;
    int bytesPerPixel() const { return colourMode() ? 4 : 1; }
    void setFirstAreaParams(int slot, int n, int detect);
    void copyDetect(int from, int to);
    QVector<QRgb> grayTable() const;
    int editDetect() const;
    void setDrawMode(int mode);
};
