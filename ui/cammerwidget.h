#pragma once

#include "camerastation.h"

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <memory>
#include <vector>

class CameraInterface;
class ColorButton;
class ComboBox;
class QLabel;
class QPainter;
class QTimer;
class Slider;

// The camera station as the operator sees it: one per opened camera, made by
// the camera tile. The work on frames, templates and area sets is done by
// CameraStation; this widget paints the station, turns touches into area edits
// and carries the small editor panel laid out beside the selected area. Every
// operation stays callable under the names the rest of the program uses.
class CammerWidget : public QWidget {
    Q_OBJECT
public:
    CammerWidget(QWidget* parent, int camera, CameraInterface* driver);
    ~CammerWidget() override;

    CameraStation& station() { return *m_station; }

    bool GrabFrame() { return m_station->GrabFrame(); }
    void ApplyCameraSettings() { m_station->ApplyCameraSettings(); }
    void SetExposure(bool fromEdit) { m_station->SetExposure(fromEdit); }
    void SetGain(bool fromEdit) { m_station->SetGain(fromEdit); }
    void SetSharpness(bool fromEdit) { m_station->SetSharpness(fromEdit); }
    void SetContrast(bool fromEdit) { m_station->SetContrast(fromEdit); }
    void SetGamma(bool fromEdit) { m_station->SetGamma(fromEdit); }
    void SetMirror(bool fromEdit) { m_station->SetMirror(fromEdit); }
    void SetAutoWDR(bool fromEdit) { m_station->SetAutoWDR(fromEdit); }
    void SetTriggerMode(int mode) { m_station->SetTriggerMode(mode); }
    void OnceWhiteBalance() { m_station->OnceWhiteBalance(); }
    void RestartGrab(int ignored = 0) { m_station->RestartGrab(ignored); }
    void StopGrab() { m_station->StopGrab(); }
    void CloseCamera() { m_station->CloseCamera(); }
    void LoadCameraDefaults() { m_station->LoadCameraDefaults(); }
    int GetROITemperature(int detect, int area) { return m_station->GetROITemperature(detect, area); }
    void SendROIParaToCamera() { m_station->SendROIParaToCamera(); }
    void CopyMaskToEdit() { m_station->CopyMaskToEdit(); }
    void CopyMaskToLive() { m_station->CopyMaskToLive(); }
    void DeleteROI(int area) { m_station->DeleteROI(area); }
    void ClearSelection() { m_station->ClearSelection(); }
    bool FindSelectedROI() { return m_station->FindSelectedROI(); }
    bool SaveIgnoreMask(int detect) { return m_station->SaveIgnoreMask(detect); }
    bool CommitIgnoreMask(int detect) { return m_station->CommitIgnoreMask(detect); }
    void LoadIgnoreMasks() { m_station->LoadIgnoreMasks(); }
    void ProbePixel(int x, int y) { m_station->ProbePixel(x, y); }
    // Lays out and fills the editor panel for the selected area, or hides it.
    void UpdateParaPanel();

    // The label drawn beside area i of the shown set (number, limit, value).
    QString areaLabel(const CammerSingleton& set, int detect, int area) const;

    QTimer* alarmTimer = nullptr;

    // Touch editing state.
    int hitHandleIndex = -1;
    bool rectEditing = false;
    bool pointDragEnabled = false;
    QPoint lastPoint;
    QPoint currentPoint;
    QPoint pressPoint;

    // The editor panel, hidden until an area is selected.
    Slider* paramSlider = nullptr;
    Slider* lowerSlider = nullptr;
    Slider* upperSlider = nullptr;
    QLabel* functionLabel = nullptr;
    ColorButton* functionButton = nullptr;
    ColorButton* paramSwitchButton = nullptr;
    ComboBox* outputCombo = nullptr;
    ColorButton* nextRoiButton = nullptr;
    ColorButton* handleButton = nullptr;
    ColorButton* add10Button = nullptr;
    ColorButton* add1Button = nullptr;
    ColorButton* sub1Button = nullptr;
    ColorButton* sub10Button = nullptr;
    ColorButton* moveUpButton = nullptr;
    ColorButton* moveDownButton = nullptr;
    ColorButton* moveLeftButton = nullptr;
    ColorButton* moveRightButton = nullptr;
    ColorButton* moveModeButton = nullptr;
    int handleIndex = 0;
    int moveMode = 0;
    bool paramShowAlt = false;

signals:
    void click(int camera);

public slots:
    bool SaveReTrainImage(int detect) { return m_station->SaveReTrainImage(detect); }
    void SaveNewROI() { m_station->SaveNewROI(); }
    void SavePolygon() { m_station->SavePolygon(); }
    void SlotCopyArea(QPoint target);
    void CopyPara() { m_station->CopyPara(); }
    void TimerShowAlarm();
    void TimerFPS() { m_station->TimerFPS(); }
    void SlotMinWH(int value);
    void SlotSensitivity(int value);
    void SlotArea(int value);
    void SlotOutN(int channel);
    void SlotChangeFunc();
    void SlotChangeParaShow();
    void SlotChangeObject();
    void SlotAdd10() { SlotSize(0); }
    void SlotAdd1() { SlotSize(1); }
    void SlotSub1() { SlotSize(2); }
    void SlotSub10() { SlotSize(3); }
    void SlotSize(int direction);
    void SlotNextROI();
    void SlotMove(int dx, int dy);
    void SlotMoveT() { SlotMove(0, -1); }
    void SlotMoveB() { SlotMove(0, 1); }
    void SlotMoveL() { SlotMove(-1, 0); }
    void SlotMoveR() { SlotMove(1, 0); }
    void SlotMoveAll();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildPanel();
    int editDetect() const;
    ROIInterface* selectedShape() const;
    // Writes one of the selected area's three values and measures it.
    void writeSelected(int which, int value);
    void labelSliders(int function);
    void rebuildSelectedMask();
    // The frame as the widget shows it: every widget pixel sampled from the
    // frame pixel under it, so a large frame costs no more than its tile.
    void sampleFrame();
    // Runs fn(widgetX, widgetY, frameIndex) for every widget pixel whose frame
    // pixel lies in r (clipped to the frame).
    template <typename Fn>
    void forEachShownPixel(QRect r, Fn fn);
    void tintWhere(const QRect& r, const uchar* mask, quint32 colour);
    void paintAreas(QPainter& painter, const CammerSingleton& set, int detect, bool templateView);

    std::unique_ptr<CameraStation> m_station;
    QImage m_view;
    std::vector<int> m_columnMap;
    std::vector<int> m_rowMap;
    QSize m_mappedFrame;
};
