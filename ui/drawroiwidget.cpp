#include "drawroiwidget.h"

#include "areaediting.h"
#include "areapanelhost.h"
#include "areapanellogic.h"
#include "cameraregistry.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "controlport.h"
#include "detectalgorithm.h"
#include "filelisting.h"
#include "globals.h"
#include "inputbox.h"
#include "kiticons.h"
#include "numberkeypad.h"
#include "operatingstate.h"
#include "operatorprompt.h"
#include "roiinterface.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>


using namespace AreaPanelLogic;

namespace {

// The notes on detects that follow others are shown once per program run.
bool gFollowNoteShown = false;

// Icon at the top of the content box, caption at its bottom. The content box
// must end at the button's bottom edge: the style aligns the caption to the
// box's bottom, so a negative bottom padding pushes the caption out of the
// button and no caption is ever seen. No side padding either: six characters
// at 16 px fill the 100-px column and the common 5-px left padding clips the
// last one.
const char* const kButtonRule =
    "QPushButton#%1{padding-top:20px;padding-bottom:0px;padding-left:0px;background-image:url(%2);"
    "background-repeat:no-repeat;background-origin:content;background-position:top;font-size:16px;text-align:bottom;color:#FFFFFF;"
    "font-weight:400;background-color:#4F5963;}"
    "QPushButton#%1:!hover{padding-top:20px;padding-bottom:0px;padding-left:0px;background-image:url(%2);"
    "background-repeat:no-repeat;background-origin:content;background-position:top;font-size:16px;"
    "text-align:bottom;color:#FFFFFF;font-weight:400;background-color:#4F5963;}"
    "QPushButton#%1:pressed{padding-top:20px;padding-bottom:0px;padding-left:0px;background-image:url(%2);"
    "background-repeat:no-repeat;background-origin:content;background-position:top;font-size:16px;"
    "text-align:bottom;color:#FFFFFF;font-weight:400;background-color:#2175D3;}";

SystemParam& params()
{
    static SystemParam empty{};
    return gpSystemParam ? *gpSystemParam : empty;
}

int machineType() { return params().systemFunction(); }

} // namespace

DrawROIWidget::DrawROIWidget(QWidget* parent)
    : QWidget(parent), m_areaEditing(std::make_unique<AreaEditing>(nullptr, nullptr))
{
    ensureKitIcons();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 1);
    layout->setSpacing(1);

    QString sheet = QStringLiteral("QWidget{background-color:#353D45;outline:0px;border:none;}");
    auto button = [&](QPushButton*& member, const char* name, const QString& caption, const char* icon,
                      void (DrawROIWidget::*slot)()) {
        member = new QPushButton(caption, this);
        member->setObjectName(QString::fromLatin1(name));
        member->setFocusPolicy(Qt::NoFocus);
        // The column is 100 px wide whatever the caption: a long caption must
        // not widen the panel (it would push the icons off the screen edge).
        member->setSizePolicy(QSizePolicy::Ignored, member->sizePolicy().verticalPolicy());
        sheet += QString::fromLatin1(kButtonRule).arg(QString::fromLatin1(name), QString::fromLatin1(icon));
        connect(member, &QPushButton::clicked, this, slot);
        fitCaption(member);
        m_widgets << member;
        layout->addWidget(member);
    };
    auto combo = [&](ComboBox*& member, const char* name, void (DrawROIWidget::*slot)(int)) {
        member = new ComboBox(this);
        member->setObjectName(QString::fromLatin1(name));
        member->setItemHeight(81);
        // In the 100-px column a 30-px drop-down and the style's own text
        // margin leave "1 号相机" or "模腔检测" in 16-point type about 60 px:
        // their last character sat under the arrow. The drop-down is as wide
        // as its 15-px arrow and the text starts at the box's edge instead.
        member->setStyleSheet(member->styleSheet()
                              + QStringLiteral("QComboBox{padding-left:0px;padding-right:0px;}QComboBox::drop-down{width:15px;}"));
        member->setItemFont(QFont(QStringLiteral("SimHei"), 16));
        member->setSizePolicy(QSizePolicy::Ignored, member->sizePolicy().verticalPolicy());
        connect(member, QOverload<int>::of(&QComboBox::currentIndexChanged), this, slot);
        connect(member, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this, member] { fitComboFont(member); });
        m_widgets << member;
        layout->addWidget(member);
    };

    button(pCButtonReturn, "pCButtonReturn", tr("完成设定"), ":/SetSystem.png", &DrawROIWidget::SlotReturn);
    combo(pComboChangeSource, "pComboChangeSource", &DrawROIWidget::SlotChangeSource);
    // Source items: index + 1 is never negative; -1 has no item.
    pComboChangeSource->blockSignals(true);
    pComboChangeSource->addItems({tr("模板"), tr("实时画面"), tr("最近NG图"), tr("OK图片记录"), tr("NG图片记录")});
    pComboChangeSource->setCurrentIndex(-1);
    pComboChangeSource->blockSignals(false);
    combo(pComboChangeCamera, "pComboChangeCamera", &DrawROIWidget::SlotChangeCamera);
    combo(pComboChangeDetect, "pComboChangeDetect", &DrawROIWidget::SlotChangeDetect);
    button(pCButtonChangeOp, "pCButtonChangeOp", tr("查看模板"), ":/ViewTemp.png", &DrawROIWidget::SlotChangeOp);
    button(pCButtonEditArea, "pCButtonEditArea", tr("增减区域"), ":/EditArea.png", &DrawROIWidget::SlotChangeOp);
    button(pCButtonNoCheckCur, "pCButtonNoCheckCur", tr("不检测此模"), ":/DoNotDetectTemp.png",
           &DrawROIWidget::SlotNoCheckCur);
    button(pCButtonDrawRect, "pCButtonDrawRect", tr("画矩形"), ":/Rectangle.png", &DrawROIWidget::SlotDrawRect);
    button(pCButtonTempLast, "pCButtonTempLast", textOf(59), ":/LastPage.png", &DrawROIWidget::SlotTempLast);
    button(pCButtonAddTemp, "pCButtonAddTemp", tr("添加为模板"), ":/AddTemplate.png", &DrawROIWidget::SlotAddTemp);
    button(pCButtonDrawCircle, "pCButtonDrawCircle", tr("画圆形"), ":/Circle.png", &DrawROIWidget::SlotDrawCircle);
    button(pCButtonTempNext, "pCButtonTempNext", textOf(62), ":/NextPage.png", &DrawROIWidget::SlotTempNext);
    button(pCButtonDrawPloygn, "pCButtonDrawPloygn", textOf(53), ":/Polygon.png", &DrawROIWidget::SlotDrawPloygn);
    button(pCButtonTempDeleteCur, "pCButtonTempDeleteCur", tr("删除当前模板"), ":/DeleteTemp.png",
           &DrawROIWidget::SlotTempDeleteCur);
    button(pCButtonDrawHand, "pCButtonDrawHand", tr("画手势区域"), ":/DrawGestureArea.png",
           &DrawROIWidget::SlotDrawHand);
    button(pCButtonCopyArea, "pCButtonCopyArea", tr("复制当前区域"), ":/CopyArea.png", &DrawROIWidget::SlotCopyArea);
    button(pCButtonDeleteROI, "pCButtonDeleteROI", tr("删除选中区域"), ":/DeleteSelect.png",
           &DrawROIWidget::SlotDeleteROI);
    button(pCButtonReCheck, "pCButtonReCheck", tr("重新检测"), ":/Retest.png", &DrawROIWidget::SlotReCheck);
    button(pCButtonDeleteAllROI, "pCButtonDeleteAllROI", tr("删除全部区域"), ":/DeleteAll.png",
           &DrawROIWidget::SlotDeleteAllROI);
    button(pCButtonAutoChange, "pCButtonAutoChange", tr("实时↔模板"), ":/RealTime2Temp.png",
           &DrawROIWidget::SlotAutoChange);
    button(pCButtonHelp, "pCButtonHelp", textOf(111), ":/Help.png", &DrawROIWidget::helpRequested);
    layout->addStretch();

    setCommonStyleSheet(this, sheet);
    setAttribute(Qt::WA_StyledBackground);
    setWindowFlags(windowFlags() | Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    FillCombos();
    for (QWidget* w : m_widgets) {
        w->hide();
    }
}

DrawROIWidget::~DrawROIWidget() = default;

void DrawROIWidget::setAreaEditing(std::unique_ptr<AreaEditing> service)
{
    if (service) {
        m_areaEditing = std::move(service);
    }
}

void DrawROIWidget::FillCombos()
{
    pComboChangeCamera->blockSignals(true);
    pComboChangeCamera->clear();
    for (int i = 0; i < gCameraCount; ++i) {
        pComboChangeCamera->addItem(tr("%1 号相机").arg(i + 1), i);
    }
    if (gCameraCount > 1) {
        pComboChangeCamera->addItem(tr("全部相机"), gCameraCount);
    }
    pComboChangeCamera->blockSignals(false);

    pComboChangeDetect->blockSignals(true);
    pComboChangeDetect->clear();
    for (int d = 0; d < gDetectCount; ++d) {
        // The side word joined with the word for detection, in the order the language wants.
        pComboChangeDetect->addItem(tr("%1检测").arg(detectName(machineType(), d)));
    }
    pComboChangeDetect->blockSignals(false);
    fitComboFonts();
}

// ---------------------------------------------------------------- helpers

DrawROIWidget::ViewState DrawROIWidget::viewState()
{
    CameraStation* st = shownStation();
    return ViewState{m_host ? m_host->screenMode() : int(Live),
                     gImageSource,
                     m_host ? m_host->curCamera() : -1,
                     m_host ? m_host->editDetect() : -1,
                     st ? st->selectedRoi : -2,
                     st ? int(st->data.curTemplate) : -2,
                     m_entries};
}

int DrawROIWidget::ask(const QString& question)
{
    ++m_boxDepth;
    const int answer = askOperator(question, 2);
    --m_boxDepth;
    return answer;
}

void DrawROIWidget::warn(const QString& message)
{
    ++m_boxDepth;
    warnOperator(message);
    --m_boxDepth;
}

bool DrawROIWidget::oneCameraShown()
{
    return m_host && m_host->curCamera() >= 0 && m_host->curCamera() < gCameraCount;
}

CammerWidget* DrawROIWidget::shownCammer()
{
    return oneCameraShown() ? m_host->cammer(m_host->curCamera()) : nullptr;
}

CameraStation* DrawROIWidget::shownStation()
{
    CammerWidget* cw = shownCammer();
    return cw ? &cw->station() : nullptr;
}

void DrawROIWidget::setCombo(ComboBox* box, int index, void (DrawROIWidget::*slot)(int))
{
    // Selecting the item already shown emits nothing; entering area mode
    // and the picker rely on the slot running either way (it refreshes the
    // tiles and the tools for the source).
    if (box->currentIndex() == index) {
        (this->*slot)(index);
    } else {
        box->setCurrentIndex(index);
    }
}

void DrawROIWidget::endDrawing(CammerWidget* cw)
{
    cw->ClearSelection();
    cw->UpdateParaPanel();
}

bool DrawROIWidget::accessFor(int passwordParam)
{
    // Both ways may open a password box (the login asks when protection is
    // on and nobody is logged in), and the cycle runs under either.
    const SystemParam& p = params();
    ++m_boxDepth;
    bool granted = false;
    if (p[passwordParam] != 0 && p[131] == 0) {
        inputbox box(1);
        granted = box.exec() == QDialog::Accepted && m_host->userLevel() != UserNone;
    } else {
        granted = m_host->CheckUserLogin() != 0;
    }
    --m_boxDepth;
    return granted;
}

void DrawROIWidget::GetTempTIme(int c, int d, int n)
{
    const QFileInfo info(QStringLiteral("./cammer%1%2/template%3.bmp").arg(c + 1).arg(d + 1).arg(n));
    gTemplateTimeText = info.exists() ? info.lastModified().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")) : QString();
}

void DrawROIWidget::showTemplate(int slot)
{
    CammerWidget* cw = shownCammer();
    if (!cw) {
        return;
    }
    CameraStation& st = cw->station();
    StationData& data = st.data;
    const int d = m_host->editDetect();
    if (d < 0 || d >= StationData::DetectCount || slot < 0 || std::size_t(slot) >= data.templates[d].size()) {
        return;
    }
    const std::vector<uchar>& sample = data.templates[d][std::size_t(slot)];
    if (sample.size() == data.displayBuffer.size()) {
        std::memcpy(data.displayBuffer.data(), sample.data(), sample.size());
        if (gColorMode && data.greyBuffer.size() == std::size_t(data.pixelCount)) {
            cv::Mat colour = data.frameHeader(data.displayBuffer, true);
            cv::Mat grey = data.planeHeader(data.greyBuffer);
            if (!colour.empty() && !grey.empty()) {
                if (gColorToGray) {
                    cv::Mat hsv;
                    cv::cvtColor(colour, hsv, cv::COLOR_BGRA2BGR);
                    cv::cvtColor(hsv, hsv, cv::COLOR_BGR2HSV_FULL);
                    cv::extractChannel(hsv, grey, 0);
                } else {
                    cv::cvtColor(colour, grey, cv::COLOR_BGRA2GRAY);
                }
            }
        }
    }
    GetTempTIme(m_host->curCamera(), d, slot);
    emit recentNgImg(tr("模板数 %1 / %2   %3").arg(data.curTemplate + 1).arg(data.templateCount[d]).arg(gTemplateTimeText));
    cw->update();
}

void DrawROIWidget::showRecent(int step)
{
    CammerWidget* cw = shownCammer();
    if (!cw) {
        return;
    }
    CameraStation& st = cw->station();
    const int d = m_host->editDetect();
    if (d < 0 || d >= StationData::DetectCount) {
        return;
    }
    const int m = std::min(st.recentCount[d], CameraStation::RecentPictures);
    if (step == 0 || m == 0) {
        st.recentIndex = 0;
    } else if (step < 0) {
        st.recentIndex = st.recentIndex <= 0 ? m - 1 : st.recentIndex - 1;
    } else {
        st.recentIndex = st.recentIndex >= m - 1 ? 0 : st.recentIndex + 1;
    }
    const std::vector<uchar>& picture = st.recentImages[d][st.recentIndex];
    if (picture.size() == st.data.displayBuffer.size()) {
        std::memcpy(st.data.displayBuffer.data(), picture.data(), picture.size());
    }
    emit recentNgImg(textOf(314).arg(detectName(machineType(), d)).arg(st.recentIndex + 1).arg(m));
    cw->update();
}

void DrawROIWidget::emitRecordTitle()
{
    if (recordCount == 0) {
        emit recentNgImg(recordKind == 1 ? tr("OK记录共0张图片") : tr("NG记录共0张图片"));
        return;
    }
    const QString title = recordKind == 1 ? tr("OK记录共%1张图片 当前为第%2张 %3") : tr("NG记录共%1张图片 当前为第%2张 %3");
    emit recentNgImg(title.arg(recordCount).arg(recordIndex + 1).arg(recordName));
}

void DrawROIWidget::LoadPic()
{
    const int c = m_host->curCamera();
    recordCamera = c >= 0 && c < gCameraCount ? c : 0;
    const int d = m_host->editDetect();
    recordDetect = d >= 0 && d < gDetectCount ? d : 0;
    // Kept between steps while the folder stays as it was: next and previous
    // through thousands of pictures would otherwise read every picture's
    // time at every step.
    const QFileInfoList& list =
        m_recordListing.files(m_host->recordDir(recordCamera, recordDetect, recordKind), {QStringLiteral("*.jpg")});
    recordCount = list.size();
    if (list.isEmpty()) {
        recordIndex = 0;
        recordName.clear();
        recordImage = QImage();
        m_recordPictures.clear();
        return;
    }
    recordIndex = std::clamp(recordIndex, 0, recordCount - 1);
    const QFileInfo& entry = list.at(recordIndex);
    recordName = entry.completeBaseName();
    const QString path = entry.absoluteFilePath();
    recordImage = m_recordPictures.picture(path);
    // Next and previous wrap around like the buttons; the picture shown is
    // kept for the step back.
    m_recordPictures.readAhead({path, list.at((recordIndex + 1) % recordCount).absoluteFilePath(),
                                list.at((recordIndex + recordCount - 1) % recordCount).absoluteFilePath()});
}

void DrawROIWidget::browseRecords(int step)
{
    if (recordCount == 0) {
        return;
    }
    recordIndex += step;
    if (recordIndex < 0) {
        recordIndex = recordCount - 1;
    } else if (recordIndex >= recordCount) {
        recordIndex = 0;
    }
    LoadPic();
    emitRecordTitle();
}

// ------------------------------------------------------------- entering

void DrawROIWidget::EnterAreaMode(bool toggleOp)
{
    if (!m_host) {
        return;
    }
    ++m_entries;
    refreshOnTemplate = 1;
    editingAreas = toggleOp ? 1 - editingAreas : 0;
    if (!toggleOp) {
        editingAreas = 0;
    }
    for (int c = 0; c < gCameraCount; ++c) {
        if (CammerWidget* cw = m_host->cammer(c)) {
            cw->station().pEditSingleton->CopyFrom(*cw->station().pLiveSingleton);
            cw->CopyMaskToEdit();
        }
    }
    const bool review = m_host->screenMode() == Alarm;
    const int d = entryDetect(params(), m_host->curDetect(), gDetectCount, review);
    m_host->setEditDetect(d);
    selectQuietly(pComboChangeDetect, d);
    m_host->selectPickerDetect(d);
    show();
    setCombo(pComboChangeSource, review ? 1 : 0, &DrawROIWidget::SlotChangeSource);
}

void DrawROIWidget::LeaveAreaMode()
{
    if (!m_host) {
        return;
    }
    m_recordPictures.clear();
    m_host->setScreenModeValue(Live);
    for (int c = 0; c < gCameraCount; ++c) {
        if (CammerWidget* cw = m_host->cammer(c)) {
            cw->ClearSelection();
        }
    }
    hide();
    for (int c = 0; c < gCameraCount; ++c) {
        if (CammerWidget* cw = m_host->cammer(c)) {
            cw->UpdateParaPanel();
            cw->update();
        }
    }
}

void DrawROIWidget::SetSourceIndex(int index)
{
    setCombo(pComboChangeSource, index, &DrawROIWidget::SlotChangeSource);
}

void DrawROIWidget::SlotChangeSource(int source)
{
    if (!m_host) {
        return;
    }
    const int previous = gImageSource;
    gImageSource = source;
    m_host->setCopyAreaMode(0);
    if (source != 3 && source != 4) {
        // Pictures read ahead for the records are large; no need to hold them
        // while another source is shown.
        m_recordPictures.clear();
    }
    if (m_host->screenMode() == Alarm) {
        if (source == 0 && m_host->CheckUserLogin() == 0) {
            // Refused: the previous picture comes back, in the combo box and
            // the picker, so the live view does not freeze on a template
            // the operator may not edit.
            gImageSource = previous;
            selectQuietly(pComboChangeSource, previous);
            return;
        }
        if (source != 1) {
            m_host->silenceAlarm();
        }
    }
    for (int c = 0; c < gCameraCount; ++c) {
        if (CammerWidget* cw = m_host->cammer(c)) {
            cw->station().data.curTemplate = 0;
            endDrawing(cw);
        }
    }
    const int cur = m_host->curCamera();
    if (!((cur >= 0 && cur < gCameraCount) || (source == 1 && cur == gCameraCount))) {
        m_host->setCurCamera(0);
        m_host->ChangeCammer();
    }
    selectQuietly(pComboChangeCamera, m_host->curCamera());
    setCaption(pCButtonTempLast, textOf(59));
    setCaption(pCButtonTempNext, textOf(62));

    const int d = m_host->editDetect();
    switch (source) {
    case 0: {
        setCaption(pCButtonDrawPloygn, textOf(53));
        setCaption(pCButtonTempLast, textOf(559));
        setCaption(pCButtonTempNext, textOf(560));
        m_host->setDrawMode(DrawNone);
        if (refreshOnTemplate) {
            refreshOnTemplate = 0;
            for (int c = 0; c < gCameraCount; ++c) {
                if (CammerWidget* cw = m_host->cammer(c)) {
                    cw->station().pEditSingleton->CopyFrom(*cw->station().pLiveSingleton);
                    cw->CopyMaskToEdit();
                }
            }
        }
        if (CameraStation* st = shownStation()) {
            showTemplate(st->data.curTemplate);
        }
        (void)d;
        break;
    }
    case 1:
        if (m_host->screenMode() == Alarm) {
            for (int c = 0; c < gCameraCount; ++c) {
                if (CammerWidget* cw = m_host->cammer(c)) {
                    cw->station().blinkState = 0;
                }
            }
        }
        emit recentNgImg(pComboChangeSource->itemText(1));
        break;
    case 2:
        showRecent(0);
        break;
    case 3:
    case 4:
        recordKind = source == 3 ? 1 : 0;
        recordIndex = 0;
        LoadPic();
        emitRecordTitle();
        if (CammerWidget* cw = shownCammer()) {
            cw->update();
        }
        break;
    default:
        break;
    }
    SlotChangePage();
}

void DrawROIWidget::SlotChangeCamera(int index)
{
    if (!m_host) {
        return;
    }
    if (index >= 0 && index < gCameraCount) {
        m_host->setCurCamera(index);
    } else if (gImageSource == 1) {
        m_host->setCurCamera(gCameraCount > 1 ? gCameraCount : 0);
    } else {
        m_host->setCurCamera(std::max(0, gCameraCount - 1));
    }
    m_host->ChangeCammer();
    SlotChangeSource(gImageSource);
}

void DrawROIWidget::SlotChangeDetect(int detect)
{
    if (!m_host || !oneCameraShown() || gImageSource == 1 || gImageSource < 0 || gImageSource > 4) {
        return;
    }
    m_host->setCopyAreaMode(0);
    const int type = machineType();
    const bool other = type == 1 || type == 2;
    const int e = other ? detect % 2 : detect;
    const SystemParam& p = params();
    if (e == 0 && p.productDetect() == 0) {
        warn(textOf(118));
        setCombo(pComboChangeDetect, productOffFallback(detect), &DrawROIWidget::SlotChangeDetect);
        return;
    }
    if (!gFollowNoteShown && gImageSource == 0 && p.syncCavityParams() != 0) {
        if (!other && p[119] != 0 && e == 1) {
            gFollowNoteShown = true;
            warn(textOf(119));
        } else if (other && detect > 1) {
            gFollowNoteShown = true;
            warn(textOf(371));
        }
    }
    if (CammerWidget* cw = shownCammer()) {
        cw->ClearSelection();
    }
    m_host->setEditDetect(detect);
    SlotChangeSource(gImageSource);
}

void DrawROIWidget::SlotChangeOp()
{
    editingAreas = editingAreas ? 0 : 1;
    SlotChangePage();
}

quint32 DrawROIWidget::shownWidgets()
{
    const bool review = m_host && m_host->screenMode() == Alarm;
    const quint32 tools = visibleWidgets(gImageSource, editingAreas, review, gCameraCount);
    // What each tool does is one touch away wherever tools are offered.
    return tools != 0 ? tools | (quint32(1) << WidgetCount) : 0;
}

void DrawROIWidget::SlotChangePage()
{
    const quint32 mask = shownWidgets();
    // Heights first: a column whose widgets ask for more than the screen
    // would grow itself (or the menu stack) past it.
    for (int i = 0; i < m_widgets.size(); ++i) {
        if (!((mask >> i) & 1u)) {
            m_widgets[i]->hide();
        }
    }
    fitHeights(mask);
    for (int i = 0; i < m_widgets.size(); ++i) {
        if ((mask >> i) & 1u) {
            m_widgets[i]->show();
        }
    }
    update();
}

void DrawROIWidget::fitHeights(quint32 mask)
{
    // Twelve tools at 100 px do not fit a 1080-px column, and a minimum here
    // would bind the whole menu stack: share the height when it is short.
    // Never more than the screen, which is all the column can ever have.
    const int shown = qPopulationCount(mask);
    const int column = std::min(height() > 0 ? height() : gScreenHeight, gScreenHeight);
    const int each = shown > 0 ? std::clamp((column - 1 - (shown - 1)) / shown, 40, 100) : 100;
    for (QWidget* w : m_widgets) {
        w->setFixedHeight(each);
    }
}

void DrawROIWidget::setCaption(QPushButton* button, const QString& caption)
{
    button->setText(caption);
    fitCaption(button);
}

void DrawROIWidget::fitCaption(QPushButton* button)
{
    // A caption of the text table wider than the 100-px column ("Previous
    // Template", "前のテンプレート") is cut at both ends: such a caption takes
    // the largest pixel size up to the column's 16 at which it fits. The
    // button's own sheet wins over the panel's rules whatever their states.
    constexpr int column = 100;
    QFont font = button->font();
    int px = 16;
    for (; px > 9; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font, button).horizontalAdvance(button->text()) <= column - 2) {
            break;
        }
    }
    const QString sheet = px < 16 ? QStringLiteral("QPushButton{font-size:%1px;}").arg(px) : QString();
    if (button->styleSheet() != sheet) {
        button->setStyleSheet(sheet);
    }
}

void DrawROIWidget::selectQuietly(ComboBox* box, int index)
{
    box->blockSignals(true);
    box->setCurrentIndex(index);
    box->blockSignals(false);
    fitComboFont(box);
}

void DrawROIWidget::fitComboFont(ComboBox* box)
{
    // The box shows its item beside the arrow in the 100-px column, where
    // SimHei 16 cuts "1 号相机" or "NG图片记录" off mid-character: the shown
    // item takes the largest size up to 16 at which it fits (the pop-up list
    // keeps its own font and widens to its items).
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.rect = QRect(0, 0, width(), std::max(box->height(), 1));
    option.editable = false;
    option.subControls = QStyle::SC_All;
    const int room = box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
    const QString text = box->currentText();
    // The size goes into the box's own sheet: the screen's sheet sets the
    // combo boxes' font size, and a sheet's size wins over setFont. The
    // pop-up list keeps the panel's 16 points.
    QFont font(QStringLiteral("SimHei"), 16);
    while (font.pointSize() > 8 && QFontMetrics(font, box).horizontalAdvance(text) > room) {
        font.setPointSize(font.pointSize() - 1);
    }
    QVariant base = box->property("comboBaseSheet");
    if (!base.isValid()) {
        base = box->styleSheet();
        box->setProperty("comboBaseSheet", base);
    }
    const QString sheet = base.toString()
                          + QStringLiteral("QComboBox{font-size:%1pt;}QComboBox QAbstractItemView{font-size:16pt;}")
                                .arg(font.pointSize());
    if (box->styleSheet() != sheet) {
        box->setStyleSheet(sheet);
    }
}

void DrawROIWidget::fitComboFonts()
{
    for (ComboBox* box : {pComboChangeSource, pComboChangeCamera, pComboChangeDetect}) {
        fitComboFont(box);
    }
}

void DrawROIWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitComboFonts();
    fitHeights(shownWidgets());
}

void DrawROIWidget::SlotReturn()
{
    if (!m_host) {
        return;
    }
    if (gpNumCharInput) {
        gpNumCharInput->HideUpdate();
    }
    m_host->hideImagePicker();
    for (int c = 0; c < gCameraCount; ++c) {
        if (CammerWidget* cw = m_host->cammer(c)) {
            cw->station().data.curTemplate = 0;
            endDrawing(cw);
        }
    }
    SlotSaveData();
    if (m_host->screenMode() == Alarm) {
        setCombo(pComboChangeSource, 1, &DrawROIWidget::SlotChangeSource);
    } else {
        m_host->setCopyAreaMode(0);
        gImageSource = -1;
        m_host->setScreenModeValue(Live);
        for (int c = 0; c < gCameraCount; ++c) {
            if (CammerWidget* cw = m_host->cammer(c)) {
                cw->ClearSelection();
            }
        }
        hide();
        for (int c = 0; c < gCameraCount; ++c) {
            if (CammerWidget* cw = m_host->cammer(c)) {
                cw->UpdateParaPanel();
                cw->update();
            }
        }
        if (m_host->samplingReview()) {
            m_host->setSamplingReview(false);
            m_host->BackTrain();
        }
    }
    for (int c = 0; c < gCameraCount; ++c) {
        if (CammerWidget* cw = m_host->cammer(c)) {
            cw->SendROIParaToCamera();
        }
    }
    m_host->SetScreenMode(m_host->screenMode());
}

// ---------------------------------------------------------------- saving

void DrawROIWidget::SlotSaveData()
{
    // A save begun while another command waits on its box (the main loop's
    // re-check under an open question) would store a state the operator is
    // still deciding about.
    if (!m_host || m_boxDepth > 0) {
        return;
    }
    const AreaEditing::Stations list = stations();
    // A store that fails has told the operator already (the area set's own
    // warning) and the service has logged it; the edits stay for another try.
    if (AreaEditing::hasChanges(list) && ask(textOf(TextSaveQuestion)) == 1) {
        m_areaEditing->commit(list);
    }
    m_areaEditing->runPendingRetraining(list);
}

AreaEditing::Stations DrawROIWidget::stations()
{
    AreaEditing::Stations list;
    for (int c = 0; c < gCameraCount; ++c) {
        CammerWidget* cw = m_host ? m_host->cammer(c) : nullptr;
        list.push_back(cw ? &cw->station() : nullptr);
    }
    return list;
}

// ------------------------------------------------------------ area tools

void DrawROIWidget::SlotDrawRect()
{
    CammerWidget* cw = shownCammer();
    if (!cw || gImageSource != 0) {
        return;
    }
    m_host->setCopyAreaMode(0);
    endDrawing(cw);
    m_host->setDrawMode(DrawRect);
    setCaption(pCButtonDrawPloygn, textOf(53));
}

void DrawROIWidget::SlotDrawCircle()
{
    CammerWidget* cw = shownCammer();
    if (!cw || gImageSource != 0) {
        return;
    }
    m_host->setCopyAreaMode(0);
    endDrawing(cw);
    m_host->setDrawMode(DrawCircle);
    setCaption(pCButtonDrawPloygn, textOf(53));
}

void DrawROIWidget::SlotDrawHand()
{
    CammerWidget* cw = shownCammer();
    if (!cw || gImageSource != 0) {
        return;
    }
    m_host->setFreehandMode(1);
    m_host->setCopyAreaMode(0);
    endDrawing(cw);
    m_host->setDrawMode(DrawPolygon);
    setCaption(pCButtonDrawPloygn, textOf(53));
}

void DrawROIWidget::SlotDrawPloygn()
{
    CammerWidget* cw = shownCammer();
    if (!cw || gImageSource != 0) {
        return;
    }
    m_host->setFreehandMode(0);
    m_host->setCopyAreaMode(0);
    if (m_host->drawMode() == DrawPolygon) {
        cw->SavePolygon();
        if (m_host->drawMode() == DrawNone) {
            setCaption(pCButtonDrawPloygn, textOf(53));
        }
        cw->update();
        return;
    }
    endDrawing(cw);
    m_host->setDrawMode(DrawPolygon);
    setCaption(pCButtonDrawPloygn, textOf(33));
}

void DrawROIWidget::SlotCopyArea()
{
    if (!shownCammer() || gImageSource != 0) {
        return;
    }
    m_host->setCopyAreaMode(1);
    m_host->setDrawMode(DrawNone);
    setCaption(pCButtonDrawPloygn, textOf(53));
}

void DrawROIWidget::SlotDeleteROI()
{
    CammerWidget* cw = shownCammer();
    if (!cw || gImageSource != 0) {
        return;
    }
    m_host->setCopyAreaMode(0);
    if (cw->station().selectedRoi == -1) {
        warn(textOf(65));
        m_host->repaintWindow();
        return;
    }
    const ViewState before = viewState();
    if (ask(textOf(66)) == 1 && viewState() == before) {
        m_areaEditing->deleteArea(cw->station(), cw->station().selectedRoi);
        cw->UpdateParaPanel();
    }
    m_host->repaintWindow();
}

void DrawROIWidget::SlotDeleteAllROI()
{
    CammerWidget* cw = shownCammer();
    if (!cw || gImageSource != 0) {
        return;
    }
    m_host->setCopyAreaMode(0);
    const ViewState before = viewState();
    if (ask(textOf(67)) == 1 && viewState() == before) {
        const int d = m_host->editDetect();
        if (d >= 0 && d < StationData::DetectCount) {
            m_areaEditing->deleteAllAreas(cw->station(), d);
            cw->UpdateParaPanel();
        }
    }
    m_host->repaintWindow();
}

// -------------------------------------------------------------- templates

void DrawROIWidget::SlotAddTemp()
{
    if (!m_host) {
        return;
    }
    m_host->hideImagePicker();
    const bool review = m_host->screenMode() == Alarm;
    if (review && gImageSource == 1) {
        CameraStation* st = shownStation();
        if (!st || st->data.resultOk) {
            warn(textOf(107));
            return;
        }
        if (params()[164] != 0 && gDoorClearedAlarm == 0) {
            warn(textOf(195));
            return;
        }
    }
    if (gTemplateCount <= 1) {
        warn(textOf(258));
        return;
    }
    // The checks above were made on this view and this cycle: a final NG
    // under the password box turns area setting into the alarm review, and
    // the command would then take the NG camera's picture as a sample (and
    // re-check it away) without the alarm checks.
    // The cycle's detect counts only where the sample goes to it: during area
    // setting the machine runs on and the detect changes every cycle.
    const ViewState before = viewState();
    const bool toCycleDetect = review && gImageSource == 1;
    const int cycleDetect = m_host->curDetect();
    const auto unchanged = [&] {
        return viewState() == before && (!toCycleDetect || m_host->curDetect() == cycleDetect);
    };
    if (!accessFor(162) || !unchanged()) {
        return;
    }
    const int t = toCycleDetect ? cycleDetect : m_host->editDetect();
    if (ask(textOf(108)) != 1 || !unchanged()) {
        return;
    }
    const int mode = m_host->screenMode();
    const bool allowed = (mode == Alarm && (gImageSource == 1 || gImageSource == 2))
                         || (mode == AreaSetting && gImageSource == 2) || (mode != Alarm && mode != AreaSetting);
    CammerWidget* cw = shownCammer();
    if (!allowed || !cw || t < 0 || t >= StationData::DetectCount) {
        return;
    }
    CameraStation& st = cw->station();
    const int c = m_host->curCamera();
    const int d = m_host->editDetect();
    const uchar* source = nullptr;
    if (gImageSource == 1) {
        source = st.data.lastImage.data();
    } else if (d >= 0 && d < StationData::DetectCount) {
        source = st.recentImages[d][std::clamp(st.recentIndex, 0, CameraStation::RecentPictures - 1)].data();
    }
    // The alarm's picture settles the alarm: its models are retrained now.
    const bool alarmPicture = gImageSource == 1;
    const AreaEditing::TemplateResult added = m_areaEditing->addTemplate(st, c, t, source, alarmPicture);
    if (added.outcome == AreaEditing::TemplateOutcome::NotStored) {
        // Nothing stored: the slot stays free, and the operator is told (the
        // log is) rather than a sample being claimed.
        warn(added.failure);
        return;
    }
    if (added.outcome == AreaEditing::TemplateOutcome::Stored && alarmPicture) {
        st.operatorHandled[t] = true;
        if (m_host->resultState(c, t) == 3) {
            m_host->setResultState(c, t, 5);
        }
        SlotReCheck();
    }
}

void DrawROIWidget::SlotTempDeleteCur()
{
    CameraStation* st = shownStation();
    if (!st) {
        return;
    }
    if (st->data.curTemplate == 0) {
        warn(textOf(68));
        return;
    }
    const ViewState before = viewState();
    if (ask(textOf(69)) != 1 || !(viewState() == before)) {
        return;
    }
    const int i = st->data.curTemplate;
    const int d = m_host->editDetect();
    const int c = m_host->curCamera();
    if (i <= 0 || d < 0 || d >= StationData::DetectCount) {
        return;
    }
    if (m_areaEditing->deleteTemplate(*st, c, d, i)) {
        SlotTempNext();
    }
}

void DrawROIWidget::SlotTempDeleteAll()
{
    if (!m_host) {
        return;
    }
    m_areaEditing->deleteAllTemplates(stations());
}

void DrawROIWidget::SlotTempLast()
{
    CameraStation* st = shownStation();
    const int d = m_host ? m_host->editDetect() : -1;
    if (!st || st->data.curTemplate < 0 || st->data.curTemplate >= gTemplateCount || d < 0 || d >= gDetectCount) {
        return;
    }
    switch (gImageSource) {
    case 0: {
        const auto& valid = st->data.templateValid[d];
        const int n = std::min<int>(gTemplateCount, int(valid.size()));
        int k = st->data.curTemplate;
        for (int step = 0; step < n; ++step) {
            k = k <= 0 ? n - 1 : k - 1;
            if (valid[std::size_t(k)]) {
                break;
            }
        }
        st->data.curTemplate = k;
        showTemplate(k);
        break;
    }
    case 2: showRecent(-1); break;
    case 3:
    case 4: browseRecords(-1); break;
    default: break;
    }
    shownCammer()->update();
}

void DrawROIWidget::SlotTempNext()
{
    CameraStation* st = shownStation();
    const int d = m_host ? m_host->editDetect() : -1;
    if (!st || st->data.curTemplate < 0 || st->data.curTemplate >= gTemplateCount || d < 0 || d >= gDetectCount) {
        return;
    }
    switch (gImageSource) {
    case 0: {
        const auto& valid = st->data.templateValid[d];
        const int n = std::min<int>(gTemplateCount, int(valid.size()));
        int k = st->data.curTemplate;
        for (int step = 0; step < n; ++step) {
            k = k >= n - 1 ? 0 : k + 1;
            if (valid[std::size_t(k)]) {
                break;
            }
        }
        st->data.curTemplate = k;
        showTemplate(k);
        break;
    }
    case 2: showRecent(1); break;
    case 3:
    case 4: browseRecords(1); break;
    default: break;
    }
    shownCammer()->update();
}

void DrawROIWidget::SlotTempList(int n)
{
    CameraStation* st = shownStation();
    const int d = m_host ? m_host->editDetect() : -1;
    if (!st || d < 0 || d >= gDetectCount) {
        return;
    }
    if (gImageSource == 0) {
        // The picker's row is not a slot number: only an occupied slot is shown.
        const auto& valid = st->data.templateValid[d];
        if (n >= 0 && n < gTemplateCount && std::size_t(n) < valid.size() && valid[std::size_t(n)]) {
            st->data.curTemplate = n;
            showTemplate(n);
        }
    } else if ((gImageSource == 3 || gImageSource == 4) && recordCount > 0 && n >= 0) {
        recordIndex = n;
        LoadPic();
        emitRecordTitle();
    }
    shownCammer()->update();
}

// ---------------------------------------------------------- alarm review

void DrawROIWidget::SlotReCheck()
{
    // Not while another command waits on its box: the state it asked about
    // must not change under it.
    if (!m_host || m_boxDepth > 0) {
        return;
    }
    const int c0 = m_host->curCamera();
    SlotSaveData();
    // The cycle's own re-check: the cameras not left to the operator are
    // inspected again and the detect evaluated; nothing inspected is no pass.
    m_host->ReCheck();
    if (c0 >= 0 && c0 < gCameraCount && m_host->screenMode() == Alarm && gImageSource == 1) {
        int shown = c0;
        for (int k = 0; k < gCameraCount; ++k) {
            const int i = (c0 + k) % gCameraCount;
            CammerWidget* cw = m_host->cammer(i);
            if (cw && !cw->station().data.resultOk) {
                shown = i;
                break;
            }
        }
        m_host->setCurCamera(shown);
        m_host->ChangeCammer();
        selectQuietly(pComboChangeCamera, shown);
    }
    if (m_host->screenMode() != Alarm) {
        gImageSource = -1;
    }
}

void DrawROIWidget::SlotNoCheckCur()
{
    if (!m_host) {
        return;
    }
    const int d = m_host->curDetect();
    m_host->hideImagePicker();
    // The camera and the detect the operator chose before the password box
    // are the ones the command may act on.
    const ViewState asked = viewState();
    if (!accessFor(161) || !(viewState() == asked) || m_host->curDetect() != d) {
        return;
    }
    if (params()[164] != 0 && gDoorClearedAlarm == 0) {
        warn(textOf(195));
        return;
    }
    if (d < 0 || d >= StationData::DetectCount) {
        return;
    }
    if (m_host->curCamera() == gCameraCount) {
        const ViewState before = viewState();
        if (ask(textOf(102)) != 1 || !(viewState() == before)) {
            return;
        }
        SlotSaveData();
        gImageSource = -1;
        m_host->ResetRun();
        for (int i = 0; i < gCameraCount; ++i) {
            if (m_host->resultState(i, d) == 3) {
                m_host->setResultState(i, d, 4);
            }
        }
        m_host->CheckNG(true);
        m_areaEditing->log(textOf(103));
        return;
    }
    CameraStation* st = shownStation();
    if (!st) {
        return;
    }
    if (st->data.resultOk && m_host->lastCycleNg()) {
        warn(textOf(107));
        return;
    }
    const int c = m_host->curCamera();
    const ViewState before = viewState();
    if (ask(textOf(105).arg(c + 1)) != 1 || !(viewState() == before)) {
        return;
    }
    st->operatorHandled[d] = true;
    if (m_host->resultState(c, d) == 3) {
        m_host->setResultState(c, d, 4);
    }
    m_areaEditing->log(textOf(106).arg(c + 1));
    SlotReCheck();
}

void DrawROIWidget::SlotAutoChange()
{
    if (!m_host || m_host->screenMode() != Alarm || !oneCameraShown()
        || (gImageSource != 0 && gImageSource != 1)) {
        return;
    }
    if (gImageSource == 1) {
        setCombo(pComboChangeSource, 0, &DrawROIWidget::SlotChangeSource);
        return;
    }
    setCombo(pComboChangeSource, 1, &DrawROIWidget::SlotChangeSource);
    for (int c = 0; c < gCameraCount; ++c) {
        CammerWidget* cw = m_host->cammer(c);
        if (cw && !cw->station().data.resultOk) {
            cw->station().blinkState = 0;
            cw->alarmTimer->start(1000);
        }
    }
}
