#pragma once

#include "tabparamwidget.h"

class CameraStation;
class CheckBox;
class ColorButton;
class EditBox;
class QLabel;
class QTimer;

// The camera page: the five image values of the camera shown on the main
// screen, pushed into it at once while the operator changes them, the
// acquisition speed, the camera and algorithm switches, and the buttons for
// the simple display, the camera switch, the one-shot exposure, the camera's
// defaults and the camera order.
class CameraParamWidget : public TabParamWidget {
    Q_OBJECT
public:
    // Check boxes in page order.
    enum Check {
        AutoShading, NoLensOptimisation, ColourForMono, GreyForColour, ExternalTrigger, ShowDetails,
        DefectAlgorithm, BlobAlgorithm, IgnoreAlgorithm, ManualLocate, BlackArea, WhiteArea, Similarity,
        WhiteCount, TemperatureAlarm, MatchBrightness, AngleCorrection, MirrorH, MirrorV, CheckCount
    };
    static const int kCheckSlots[CheckCount];

    explicit CameraParamWidget(QWidget* owner);
    ~CameraParamWidget() override;

    void loadParams() override;
    void storeParams() override;

    static QString buttonStyleSheet();

    ColorButton* pCButtonShowMode = nullptr;
    ColorButton* pCButtonCamera = nullptr;
    ColorButton* pCButtonOpenAutoExposeTime = nullptr;
    ColorButton* pCButtonRestoreDefaultSettings = nullptr;
    ColorButton* reorderButton = nullptr;
    // Image values 1 to 5, then the acquisition speed.
    EditBox* boxes[6] = {};
    CheckBox* checks[CheckCount] = {};
    QLabel* valueHeading = nullptr;
    QLabel* switchHeading = nullptr;
    QLabel* reorderCaption = nullptr;
    int cameraIndex = 0;
    bool simpleDisplay = true;

    // How long the one-shot exposure regulates before it is switched off.
    int autoExposeOffMs = 2000;
    bool autoExposeRunning() const { return m_autoCamera >= 0; }

signals:
    void showModeChange(int mode);

public slots:
    void SlotChangeShowMode();
    void switchCamera();
    void onAutoExposeClicked();
    void onRestoreDefaultClicked();
    void onReorderClicked();

    void onExposureChanged(int value);
    void onGainChanged(int value);
    void onSharpnessChanged(int value);
    void onContrastChanged(int value);
    void onGammaChanged(int value);
    void onAutoShadingChanged(int state);
    void onMirrorHChanged(int state);
    void onMirrorVChanged(int state);

    // Ends a running one-shot exposure at once (the page is closing): the
    // camera goes back to the live exposure and gain.
    void endAutoExpose();

private:
    QWidget* m_owner;
    CameraStation* station(int camera) const;
    bool thermal() const;
    void applyCameraKind();
    void finishAutoExpose();

    QTimer* m_autoTimer = nullptr;
    int m_autoCamera = -1;
};
