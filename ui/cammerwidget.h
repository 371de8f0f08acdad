#pragma once

#include "camerastation.h"

#include <QWidget>

#include <memory>

class CameraInterface;
class QTimer;

// The camera station as the operator sees it: one per opened camera, made by
// the camera tile. The work is done by CameraStation; this widget shows its
// display frame, keeps the scale factors current and hands every operation
// on under the names the rest of the program calls.
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
    void CopyPara() { m_station->CopyPara(); }
    void SaveNewROI() { m_station->SaveNewROI(); }
    void SavePolygon() { m_station->SavePolygon(); }
    void DeleteROI(int area) { m_station->DeleteROI(area); }
    void ClearSelection() { m_station->ClearSelection(); }
    bool FindSelectedROI() { return m_station->FindSelectedROI(); }
    bool SaveIgnoreMask(int detect) { return m_station->SaveIgnoreMask(detect); }
    bool SaveReTrainImage(int detect) { return m_station->SaveReTrainImage(detect); }
    void LoadIgnoreMasks() { m_station->LoadIgnoreMasks(); }
    void ProbePixel(int x, int y) { m_station->ProbePixel(x, y); }
    // Only repaints until the editor panel exists.
    void UpdateParaPanel() { update(); }

    QTimer* alarmTimer = nullptr;

signals:
    void click(int camera);

public slots:
    void TimerFPS() { m_station->TimerFPS(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::unique_ptr<CameraStation> m_station;
};
