#include "cameraparamwidget.h"

#include "camerainterface.h"
#include "cameraregistry.h"
#include "camerastation.h"
#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "edit.h"
#include "kiticons.h"
#include "operatorprompt.h"
#include "settingshost.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "texttable.h"
#include "widgetchangecamera.h"

#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

const int CameraParamWidget::kCheckSlots[CameraParamWidget::CheckCount] = {
    194, 184, 182, 183, 306, 169, 165, 166, 167, 168, 195, 196, 199, 197, 198, 179, 180, 40, 48};

namespace {

// Gap between the image slots of one value: value k of camera c is slot 8k + c.
constexpr int kValueStride = 8;
constexpr int kSpeedSlot = 139;
constexpr int kThermalRangeMax = 2;
constexpr int kVisibleRangeMax = 200;

const int kCheckTexts[CameraParamWidget::CheckCount] = {388, 337, 270, 271, 519, 200, 196, 197, 198, 199,
                                                        390, 391, 397, 520, 570, 582, 583, -1, -2};

const char* const kVisibleLabels[5] = {QT_TRANSLATE_NOOP("CameraParamWidget", "曝光时间"), QT_TRANSLATE_NOOP("CameraParamWidget", "增益调节"),
                                       QT_TRANSLATE_NOOP("CameraParamWidget", "清晰度"), QT_TRANSLATE_NOOP("CameraParamWidget", "真实度"),
                                       "Gamma"};
const char* const kThermalLabels[5] = {QT_TRANSLATE_NOOP("CameraParamWidget", "发射率"), QT_TRANSLATE_NOOP("CameraParamWidget", "反射温度"),
                                       QT_TRANSLATE_NOOP("CameraParamWidget", "大气温度"), QT_TRANSLATE_NOOP("CameraParamWidget", "温度范围"),
                                       QT_TRANSLATE_NOOP("CameraParamWidget", "目标距离")};

struct IconButton {
    const char* objectName;
    const char* icon;
};
// In the order of the button row and of the style sheet.
const IconButton kIconButtons[4] = {
    {"pCButtonRestoreDefaultSettings", ":/Resume.png"},
    {"pCButtonOpenAutoExposeTime", ":/Exposure.png"},
    {"pCButtonShowMode", ":/Display.png"},
    {"pCButtonCamera", ":/CameraSwitch.png"},
};

const QString kHeadingStyle = QStringLiteral("QLabel{color: #2687F2;background-color:transparent;}");
const QString kHiddenHeadingStyle = QStringLiteral("QLabel{color: transparent;background-color:transparent;}");

SystemParam& edit()
{
    return *gpSystemParamEdit;
}

QLabel* heading(const QString& title, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("· ") + title, parent);
    label->setFixedHeight(50);
    label->setStyleSheet(kHeadingStyle);
    return label;
}

} // namespace

CameraParamWidget::CameraParamWidget(QWidget* owner)
    : TabParamWidget(owner)
    , m_owner(owner)
{
    ensureKitIcons();
    SettingsHost* host = settingsHost();
    // With all cameras shown the page adjusts camera 1, and the main screen
    // shows it, so the operator sees the picture being adjusted.
    int current = host->currentCamera();
    if (current >= gCameraCount || current < 0) {
        current = 0;
    }
    host->changeCamera(current);
    cameraIndex = current;

    valueHeading = heading(textOf(219), this);
    switchHeading = heading(QStringLiteral("参数开关"), this);

    pCButtonShowMode = new ColorButton(textOf(300), this);
    pCButtonCamera = new ColorButton(textOf(163), this);
    pCButtonOpenAutoExposeTime = new ColorButton(textOf(500), this);
    pCButtonRestoreDefaultSettings = new ColorButton(textOf(526), this);
    ColorButton* const iconButtons[4] = {pCButtonRestoreDefaultSettings, pCButtonOpenAutoExposeTime,
                                         pCButtonShowMode, pCButtonCamera};
    for (int i = 0; i < 4; ++i) {
        iconButtons[i]->setObjectName(QString::fromLatin1(kIconButtons[i].objectName));
        iconButtons[i]->setFixedSize(190, 50);
    }
    connect(pCButtonShowMode, &QPushButton::clicked, this, &CameraParamWidget::SlotChangeShowMode);
    connect(pCButtonCamera, &QPushButton::clicked, this, &CameraParamWidget::switchCamera);
    connect(pCButtonOpenAutoExposeTime, &QPushButton::clicked, this, &CameraParamWidget::onAutoExposeClicked);
    connect(pCButtonRestoreDefaultSettings, &QPushButton::clicked, this, &CameraParamWidget::onRestoreDefaultClicked);
    reorderButton = new ColorButton(QStringLiteral("排序"), this);
    reorderButton->setFixedSize(170, 50);
    connect(reorderButton, &QPushButton::clicked, this, &CameraParamWidget::onReorderClicked);
    reorderCaption = new QLabel(textOf(396), this);
    reorderCaption->setStyleSheet(QStringLiteral("color: white"));

    for (int k = 0; k < 5; ++k) {
        boxes[k] = new EditBox(0, 100, this, tr(kVisibleLabels[k]));
    }
    boxes[0]->setRange(1, 100);
    boxes[1]->setRange(0, 64);
    boxes[2]->setRange(0, 100);
    boxes[3]->setRange(0, kVisibleRangeMax);
    boxes[4]->setRange(0, 250);
    boxes[5] = new EditBox(0, 32, this, textOf(244));
    connect(boxes[0], &EditBox::valueChanged, this, &CameraParamWidget::onExposureChanged);
    connect(boxes[1], &EditBox::valueChanged, this, &CameraParamWidget::onGainChanged);
    connect(boxes[2], &EditBox::valueChanged, this, &CameraParamWidget::onSharpnessChanged);
    connect(boxes[3], &EditBox::valueChanged, this, &CameraParamWidget::onContrastChanged);
    connect(boxes[4], &EditBox::valueChanged, this, &CameraParamWidget::onGammaChanged);

    for (int i = 0; i < CheckCount; ++i) {
        const QString caption = kCheckTexts[i] == -1 ? QStringLiteral("水平镜像")
            : kCheckTexts[i] == -2                   ? QStringLiteral("垂直镜像")
                                                     : textOf(kCheckTexts[i]);
        checks[i] = new CheckBox(this, caption);
    }
    connect(checks[AutoShading], &QCheckBox::stateChanged, this, &CameraParamWidget::onAutoShadingChanged);
    connect(checks[MirrorH], &QCheckBox::stateChanged, this, &CameraParamWidget::onMirrorHChanged);
    connect(checks[MirrorV], &QCheckBox::stateChanged, this, &CameraParamWidget::onMirrorVChanged);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 10, 20, 10);
    page->addWidget(valueHeading);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(50, 0, 0, 0);
    buttonRow->setSpacing(30);
    for (ColorButton* b : iconButtons) {
        buttonRow->addWidget(b);
    }
    buttonRow->addStretch();
    page->addLayout(buttonRow);
    auto* boxGrid = new QGridLayout;
    // The boxes bring their own left margin; the page is just wide enough.
    boxGrid->setContentsMargins(0, 10, 0, 10);
    boxGrid->setHorizontalSpacing(10);
    for (int k = 0; k < 6; ++k) {
        // Each box is about 880 px wide: two fit side by side on the page.
        boxGrid->addWidget(boxes[k], k / 2, k % 2, Qt::AlignLeft);
    }
    page->addLayout(boxGrid);
    page->addWidget(switchHeading);
    auto* checkGrid = new QGridLayout;
    checkGrid->setContentsMargins(50, 0, 0, 0);
    for (int i = 0; i < CheckCount; ++i) {
        // Three columns leave room for the longest English captions.
        checkGrid->addWidget(checks[i], i / 3, i % 3);
    }
    page->addLayout(checkGrid);
    auto* reorderRow = new QHBoxLayout;
    reorderRow->setContentsMargins(50, 10, 0, 0);
    reorderRow->addWidget(reorderCaption);
    reorderRow->addSpacing(20);
    reorderRow->addWidget(reorderButton);
    reorderRow->addStretch();
    page->addLayout(reorderRow);
    page->addStretch();

    setCommonStyleSheet(this, buttonStyleSheet());

    m_autoTimer = new QTimer(this);
    m_autoTimer->setSingleShot(true);
    connect(m_autoTimer, &QTimer::timeout, this, &CameraParamWidget::finishAutoExpose);
    // The settings dialog is closed (OK or not) before the page goes: a
    // one-shot exposure still running then ends with it.
    if (auto* dialog = qobject_cast<QDialog*>(owner)) {
        connect(dialog, &QDialog::finished, this, &CameraParamWidget::endAutoExpose);
    }

    applyCameraKind();
    SlotChangeShowMode();
}

CameraParamWidget::~CameraParamWidget()
{
    endAutoExpose();
}

QString CameraParamWidget::buttonStyleSheet()
{
    QString sheet;
    for (const IconButton& b : kIconButtons) {
        sheet += QStringLiteral("QPushButton#%1{background-image: url(%2);background-repeat: no-repeat;"
                                "background-origin: content;background-position: left;background-color: #2175D3;"
                                "font-size: 24px;text-align: bottom;color: #FFFFFF;font-weight: 400;"
                                "padding-left: 40px;padding-right: 20px}")
                     .arg(QString::fromLatin1(b.objectName), QString::fromLatin1(b.icon));
    }
    return sheet;
}

CameraStation* CameraParamWidget::station(int camera) const
{
    if (camera < 0 || camera >= gCameraCount) {
        return nullptr;
    }
    return settingsHost()->cameraStation(camera);
}

bool CameraParamWidget::thermal() const
{
    CameraStation* s = station(cameraIndex);
    return s && s->isThermal;
}

void CameraParamWidget::applyCameraKind()
{
    const bool isThermal = thermal();
    const char* const* labels = isThermal ? kThermalLabels : kVisibleLabels;
    for (int k = 0; k < 5; ++k) {
        boxes[k]->setText(tr(labels[k]));
    }
    boxes[3]->setRange(0, isThermal ? kThermalRangeMax : kVisibleRangeMax);
    // A thermal camera has no exposure, gain, sharpness or acquisition speed
    // to set: only the temperature range and the target distance remain.
    for (int k : {0, 1, 2, 5}) {
        boxes[k]->setVisible(!isThermal);
    }
}

void CameraParamWidget::loadParams()
{
    const SystemParam& p = edit();
    const int c = cameraIndex;
    for (EditBox* b : boxes) {
        b->blockSignals(true);
    }
    for (int k = 0; k < 5; ++k) {
        boxes[k]->setValue(p[kValueStride * k + c]);
    }
    boxes[5]->setValue(p[kSpeedSlot]);
    for (EditBox* b : boxes) {
        b->blockSignals(false);
    }
    for (int i = 0; i < CheckCount; ++i) {
        const int slot = (i == MirrorH || i == MirrorV) ? kCheckSlots[i] + c : kCheckSlots[i];
        checks[i]->setValue(edit()[slot]);
    }
}

void CameraParamWidget::storeParams()
{
    SystemParam& p = edit();
    p[kSpeedSlot] = boxes[5]->value();
    for (int i = 0; i < CheckCount; ++i) {
        if (i != ShowDetails && i != MirrorH && i != MirrorV) {
            p[kCheckSlots[i]] = checks[i]->value();
        }
    }
    // The detail parameters of these algorithms are needed to set them up.
    for (int slot : {166, 196, 195, 197, 198}) {
        if (p[slot] != 0) {
            checks[ShowDetails]->setValue(1);
        }
    }
    p[kCheckSlots[ShowDetails]] = checks[ShowDetails]->value();
}

void CameraParamWidget::onExposureChanged(int value)
{
    edit()[cameraIndex] = value;
    if (CameraStation* s = station(cameraIndex)) s->SetExposure(true);
}

void CameraParamWidget::onGainChanged(int value)
{
    edit()[kValueStride + cameraIndex] = value;
    if (CameraStation* s = station(cameraIndex)) s->SetGain(true);
}

void CameraParamWidget::onSharpnessChanged(int value)
{
    edit()[2 * kValueStride + cameraIndex] = value;
    if (CameraStation* s = station(cameraIndex)) s->SetSharpness(true);
}

void CameraParamWidget::onContrastChanged(int value)
{
    edit()[3 * kValueStride + cameraIndex] = value;
    if (CameraStation* s = station(cameraIndex)) s->SetContrast(true);
}

void CameraParamWidget::onGammaChanged(int value)
{
    edit()[4 * kValueStride + cameraIndex] = value;
    if (CameraStation* s = station(cameraIndex)) s->SetGamma(true);
}

void CameraParamWidget::onAutoShadingChanged(int state)
{
    edit()[kCheckSlots[AutoShading]] = state;
    for (int c = 0; c < gCameraCount; ++c) {
        if (CameraStation* s = station(c)) s->SetAutoWDR(true);
    }
}

void CameraParamWidget::onMirrorHChanged(int)
{
    edit()[kCheckSlots[MirrorH] + cameraIndex] = checks[MirrorH]->value();
    if (CameraStation* s = station(cameraIndex)) s->SetMirror(true);
}

void CameraParamWidget::onMirrorVChanged(int)
{
    edit()[kCheckSlots[MirrorV] + cameraIndex] = checks[MirrorV]->value();
    if (CameraStation* s = station(cameraIndex)) s->SetMirror(true);
}

void CameraParamWidget::switchCamera()
{
    if (gCameraCount <= 0) {
        return;
    }
    cameraIndex = cameraIndex + 1 >= gCameraCount ? 0 : cameraIndex + 1;
    settingsHost()->changeCamera(cameraIndex);
    applyCameraKind();
    // With the signals live: each box passes its slot through its range and
    // pushes what it holds into the newly chosen camera.
    const SystemParam& p = edit();
    const int c = cameraIndex;
    for (int k = 0; k < 5; ++k) {
        boxes[k]->setValue(p[kValueStride * k + c]);
    }
    checks[MirrorH]->setValue(p[kCheckSlots[MirrorH] + c]);
    checks[MirrorV]->setValue(p[kCheckSlots[MirrorV] + c]);
    update();
}

void CameraParamWidget::SlotChangeShowMode()
{
    simpleDisplay = !simpleDisplay;
    pCButtonShowMode->setText(textOf(simpleDisplay ? 299 : 300));
    reorderButton->setVisible(!simpleDisplay);
    reorderCaption->setVisible(!simpleDisplay);
    switchHeading->setVisible(!simpleDisplay);
    for (CheckBox* check : checks) {
        check->setVisible(!simpleDisplay);
    }
    // The heading keeps its place so the buttons do not jump under the finger.
    valueHeading->setStyleSheet(simpleDisplay ? kHiddenHeadingStyle : kHeadingStyle);
    emit showModeChange(simpleDisplay ? 1 : 0);
}

void CameraParamWidget::onAutoExposeClicked()
{
    CameraStation* s = station(cameraIndex);
    if (!s || !s->pDriver) {
        return;
    }
    // A second press ends the first one-shot before starting another, so no
    // camera is left regulating on its own.
    if (m_autoCamera >= 0) {
        finishAutoExpose();
    }
    s->pDriver->autoAdjust(true);
    m_autoCamera = cameraIndex;
    m_autoTimer->start(autoExposeOffMs);
}

void CameraParamWidget::finishAutoExpose()
{
    const int c = m_autoCamera;
    m_autoTimer->stop();
    m_autoCamera = -1;
    CameraStation* s = station(c);
    if (!s || !s->pDriver) {
        return;
    }
    // Left on, the camera would keep regulating away from the exposure the
    // templates were taken at: the one-shot takes the values it found into
    // the edit record, where the apply step keeps or discards them.
    const QJsonObject found = s->pDriver->autoAdjust(false);
    SystemParam& p = edit();
    if (found.contains(QStringLiteral("ExposureTime"))) {
        p[c] = int(found.value(QStringLiteral("ExposureTime")).toDouble() / 1000.0);
    }
    if (found.contains(QStringLiteral("Gain"))) {
        p[kValueStride + c] = found.value(QStringLiteral("Gain")).toInt();
    }
    if (c == cameraIndex) {
        // Through the boxes: the values are clamped to their ranges, written
        // back and pushed.
        boxes[0]->setValue(p[c]);
        boxes[1]->setValue(p[kValueStride + c]);
    } else {
        p[c] = qBound(boxes[0]->minValue, p[c], boxes[0]->maxValue);
        p[kValueStride + c] = qBound(boxes[1]->minValue, p[kValueStride + c], boxes[1]->maxValue);
        s->SetExposure(true);
        s->SetGain(true);
    }
}

void CameraParamWidget::endAutoExpose()
{
    const int c = m_autoCamera;
    if (c < 0) {
        return;
    }
    m_autoTimer->stop();
    m_autoCamera = -1;
    CameraStation* s = station(c);
    if (!s || !s->pDriver) {
        return;
    }
    // The page is going: what the regulation found is no longer asked for,
    // and the camera runs at the exposure and gain of the live record.
    s->pDriver->autoAdjust(false);
    s->SetExposure(false);
    s->SetGain(false);
}

void CameraParamWidget::onRestoreDefaultClicked()
{
    if (askOperator(textOf(527), 2) != 1) {
        return;
    }
    if (CameraStation* s = station(cameraIndex)) {
        s->LoadCameraDefaults();
    }
    const SystemParam& p = edit();
    for (int k = 0; k < 5; ++k) {
        boxes[k]->setValue(p[kValueStride * k + cameraIndex]);
    }
    boxes[5]->setValue(p[kSpeedSlot]);
}

void CameraParamWidget::onReorderClicked()
{
    // A new camera order takes effect only after a restart: the dialog
    // offers the power-off step of the settings dialog that owns this page.
    auto* owner = qobject_cast<SystemParamDialog*>(m_owner);
    WidgetChangeCamera dialog(window(), [owner] {
        if (owner) {
            owner->powerOffDialog();
        }
    });
    dialog.exec();
}
