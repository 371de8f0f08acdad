#include "camerawgtbox.h"

#include "cameraregistry.h"
#include "camerareportform.h"
#include "cammerwidget.h"
#include "ccomp_dialogframe.h"
#include "globals.h"
#include "mainscreenhost.h"
#include "multiplebtngroup.h"
#include "productioncounters.h"
#include "systemparam.h"

#include <QButtonGroup>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>

void setTemplateTimeText(int camera, int detect, int templateIndex)
{
    const QFileInfo file(QStringLiteral("./cammer%1%2/template%3.bmp").arg(camera + 1).arg(detect + 1).arg(templateIndex));
    gTemplateTimeText = file.exists() ? file.lastModified().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")) : QString();
}

namespace {

// The title's words are the system's own and stay Chinese in every language.
QString zh(const char* text)
{
    return QString::fromUtf8(text);
}

QString detectName(int detect)
{
    const int function = gpSystemParam ? gpSystemParam->systemFunction() : 0;
    if (function == 1 || function == 2) {
        static const char* const names[] = {"左成品", "左模腔", "右成品", "右模腔"};
        return detect >= 0 && detect < 4 ? zh(names[detect]) : QString();
    }
    if (detect == 0) {
        return zh("成品");
    }
    return detect == 1 ? zh("模腔") : QString();
}

const char* const ResultOkSheet =
    "QLabel#_lab_result{color:white;background-color:#4CAF50;font-size:45px;text-align:center;}";
const char* const ResultNgSheet =
    "QLabel#_lab_result{color:white;background-color:#F44336;font-size:45px;text-align:center;}";

} // namespace

QString titleStatusText(int camera)
{
    const MainScreenHost* host = mainScreenHost();
    QString colour;
    QString state;
    switch (host->runState()) {
    case 2:
        colour = QStringLiteral("cyan");
        state = zh("取样中");
        break;
    case 3:
        colour = QStringLiteral("#FF0000");
        state = zh("停止中");
        break;
    default:
        colour = QStringLiteral("#00FF00");
        switch (host->cyclePhase()) {
        case 1: state = zh("检测中"); break;
        case 2: state = zh("检测完"); break;
        case 3: state = zh("等待中"); break;
        default: break;
        }
    }
    double delay = 0.0;
    for (int d = 0; d < gDetectCount; ++d) {
        if (host->detectDelayRunning(d)) {
            delay = host->detectDelayLeft(d);
            break;
        }
    }
    QString text = zh("%1号相机 %2 %3").arg(camera + 1).arg(detectName(host->currentDetect()), state);
    if (delay > 0.02) {
        text += QLatin1Char(' ') + QString::number(delay, 'g', 3);
    }
    return colouredText(colour, text);
}

// ---- titles ----

CameraWgt_DataWidget_Title::CameraWgt_DataWidget_Title(QWidget* parent)
    : QWidget(parent)
{
    m_tile = dynamic_cast<CameraWgt_DataWidget*>(parent);
    if (!m_tile) {
        return;
    }
    m_camera = m_tile->camera();
    setFixedHeight(60);
    m_cameraLabel = new QLabel(zh("相机%1").arg(m_camera + 1), this);
    m_cameraLabel->setObjectName(QStringLiteral("cameraLabel"));
    m_cameraLabel->installEventFilter(this);
    m_selector = new MultipleBtnGroup(gCameraCount, this);
    m_selector->setObjectName(QStringLiteral("_pBtnGroup"));
    m_selector->markButton(m_camera);
    connect(m_selector, &MultipleBtnGroup::buttonClicked, this, [this](int id) {
        emit m_tile->sigChangeCameraLayout(id);
        update();
    });
    m_runStatus = new QLabel(this);
    m_runStatus->setObjectName(QStringLiteral("_lab_runstatus"));
    m_runStatus->setTextFormat(Qt::RichText);
}

void CameraWgt_DataWidget_Title::updateTitle()
{
    if (!m_runStatus) {
        return;
    }
    const QString text = titleStatusText(m_camera);
    // Only a changed text costs a repaint of the label.
    if (m_runStatus->text() != text) {
        m_runStatus->setText(text);
    }
}

void CameraWgt_DataWidget_Title::setSingleView(bool single)
{
    if (!m_cameraLabel) {
        return;
    }
    m_cameraLabel->setVisible(!single);
    m_selector->setVisible(single);
    update();
}

CameraWgt_DataWidget_Title_Normal::CameraWgt_DataWidget_Title_Normal(QWidget* parent)
    : CameraWgt_DataWidget_Title(parent)
{
    if (!m_tile) {
        return;
    }
    m_report = new QLabel(this);
    m_report->setObjectName(QStringLiteral("_lab_detectreport"));
    m_report->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_report->setTextFormat(Qt::RichText);
    // A label's text is its least width: with eight tiles, three a row, the
    // counters and the status line would widen every tile and push the third
    // column, the menu column and the dock's buttons off the screen. They give
    // way (and are cut at their right end) instead.
    m_report->setMinimumWidth(1);
    m_runStatus->setMinimumWidth(1);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("_lab_result"));
    // No verdict yet: the first pass shows OK or NG whatever the flag is.
    m_result->setAlignment(Qt::AlignCenter);
    m_result->setMinimumSize(100, 50);
    m_result->setStyleSheet(QStringLiteral("QLabel{color:white;background-color:#4CAF50;font-size:45px}"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(m_cameraLabel);
    row->addWidget(m_selector, 0, Qt::AlignTop);
    row->addWidget(m_report);
    row->addWidget(m_runStatus);
    row->addWidget(m_result);

    setCommonStyleSheet(this, QStringLiteral("QWidget{background-color:#353D45;outline:0px;border:none;}")
        + QStringLiteral("QLabel#%1{color:white;background-color:#4CAF50;font-size:45px;text-align:center;}"
                         "QLabel#%1[isok = false]{color:white;background-color:#F44336;font-size:45px;text-align:center;}")
              .arg(QStringLiteral("_lab_result")));
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

void CameraWgt_DataWidget_Title_Normal::updateTitle()
{
    CameraWgt_DataWidget_Title::updateTitle();
    if (!m_report) {
        return;
    }
    CammerWidget* view = m_tile->cammerWidget();
    const int frames = view ? view->station().frameCount : 0;
    const int ng = m_camera >= 0 && m_camera < CounterCameras ? gNgCount[m_camera] : 0;
    const int total = m_camera >= 0 && m_camera < CounterCameras ? gTotalCount[m_camera] : 0;
    const QString white = QStringLiteral("#ffffff");
    const QString cyan = QStringLiteral("#00ffff");
    const QString report = colouredText(white, zh("帧率 ")) + colouredText(cyan, QString::number(frames)) + QLatin1Char(' ')
        + colouredText(white, zh("NG数 ")) + colouredText(cyan, QString::number(ng)) + QLatin1Char(' ')
        + colouredText(white, zh("总数 ")) + colouredText(cyan, QString::number(total)) + QLatin1Char(' ');
    if (m_report->text() != report) {
        m_report->setText(report);
    }
    if (view) {
        const bool ok = view->station().data.resultOk != 0;
        const QVariant shown = m_result->property("isok");
        // The sheet is costly: set only when the verdict changes (or on the
        // first pass, when the label has none yet).
        if (!shown.isValid() || shown.toBool() != ok) {
            m_result->setStyleSheet(QString::fromLatin1(ok ? ResultOkSheet : ResultNgSheet));
            m_result->setText(ok ? QStringLiteral("OK") : QStringLiteral("NG"));
            m_result->setProperty("isok", ok);
            m_result->update();
        }
        view->update();
    }
}

CameraWgt_DataWidget_Title_SetROI::CameraWgt_DataWidget_Title_SetROI(QWidget* parent)
    : CameraWgt_DataWidget_Title(parent)
{
    if (!m_tile) {
        return;
    }
    m_info = new QLabel(zh("图片信息"), this);
    m_info->setAlignment(Qt::AlignCenter);
    m_info->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(m_cameraLabel);
    row->addWidget(m_info);
    row->addWidget(m_runStatus);
    m_selector->hide();
    setCommonStyleSheet(this, QStringLiteral("QWidget{background-color:#353D45;outline:0px;border:none;}"));
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

void CameraWgt_DataWidget_Title_SetROI::setSingleView(bool)
{
    if (!m_cameraLabel) {
        return;
    }
    m_cameraLabel->show();
    m_selector->hide();
    update();
}

void CameraWgt_DataWidget_Title_SetROI::setText(const QString& text)
{
    if (m_info) {
        m_info->setText(text);
    }
}

bool CameraWgt_DataWidget_Title_SetROI::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_cameraLabel && event->type() == QEvent::MouseButtonPress) {
        if (QWidget* browser = mainScreenHost()->imageBrowser()) {
            if (browser->isVisible()) {
                browser->hide();
            } else {
                browser->move(0, height());
                // A window without parent made window-modal blocks nothing:
                // the label and the area panel stay usable, and only they close it.
                browser->setWindowModality(Qt::WindowModal);
                browser->show();
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- tile ----

CameraWgt_DataWidget::CameraWgt_DataWidget(int camera, QWidget* parent)
    : QWidget(parent)
    , m_camera(camera)
{
    m_grid = dynamic_cast<CameraWgtBox*>(parent);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(1);
    m_titleStack = new QStackedWidget(this);
    m_titleStack->setFixedHeight(60);
    layout->addWidget(m_titleStack);
    if (!m_grid) {
        return;
    }
    m_driver = camera >= 0 && camera < m_grid->cameras().size() ? m_grid->cameras().at(camera) : nullptr;

    m_view = new CammerWidget(this, camera, m_driver);
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(m_view, &CammerWidget::click, this, &CameraWgt_DataWidget::sigChangeCameraLayout);

    m_titleStack->addWidget(new CameraWgt_DataWidget_Title_Normal(this));
    m_titleStack->addWidget(new CameraWgt_DataWidget_Title_SetROI(this));

    m_report = new CameraReportForm(this);
    m_report->setObjectName(QStringLiteral("CameraReportForm"));

    m_hideButton = new QPushButton(this);
    m_hideButton->setObjectName(QStringLiteral("btn_hide"));
    m_hideButton->setFixedSize(40, 80);
    connect(m_hideButton, &QPushButton::clicked, this, [this] { m_report->setVisible(m_report->isHidden()); });

    setCommonStyleSheet(this, QString());
    m_hideButton->setStyleSheet(QStringLiteral(
        "QPushButton#btn_hide{background-color: rgba(112,112,112,1);background-image: url(:/Arrow2LeftBold.png);"
        "background-repeat: no-repeat;background-position: center;border: 1px solid #262E34;border-radius: 4px 4px ;}"
        "QPushButton#btn_hide:hover{background-color: rgba(38,135,242,1);}"));
}

CameraWgt_DataWidget_Title* CameraWgt_DataWidget::currentTitle() const
{
    return qobject_cast<CameraWgt_DataWidget_Title*>(m_titleStack->currentWidget());
}

void CameraWgt_DataWidget::setLayoutMode(int mode)
{
    m_layoutMode = mode;
    if (!m_view) {
        return;
    }
    auto* main = static_cast<QVBoxLayout*>(layout());
    while (main->count() > 1) {
        QLayoutItem* item = main->takeAt(1);
        if (QWidget* w = item->widget()) {
            w->setParent(nullptr);
        }
        delete item;
    }
    // Deleting the nested layout leaves its widgets with this tile as parent.
    if (m_view->parent() != this) {
        m_view->setParent(this);
    }
    if (m_report->parent() != this) {
        m_report->setParent(this);
    }
    QBoxLayout* sub = nullptr;
    if (mode == 0) {
        sub = new QVBoxLayout;
        sub->addWidget(m_view, 0);
        sub->addWidget(m_report, 0);
    } else {
        sub = new QHBoxLayout;
        sub->addWidget(m_view, 2);
        sub->addWidget(m_report, 1, Qt::AlignTop);
    }
    main->addLayout(sub, 0);
    m_hideButton->raise();
}

void CameraWgt_DataWidget::showForCamera(int camera)
{
    setVisible(camera == -1 || camera == m_camera);
    if (CameraWgt_DataWidget_Title* title = currentTitle()) {
        title->setSingleView(camera != -1);
    }
}

void CameraWgt_DataWidget::setScreenMode(int mode)
{
    if (!m_view) {
        return;
    }
    switch (mode) {
    case 0:
    case 1:
        m_titleStack->setCurrentIndex(0);
        m_report->show();
        break;
    case 2:
        m_titleStack->setCurrentIndex(1);
        m_report->hide();
        break;
    case 3: {
        m_titleStack->setCurrentIndex(1);
        m_report->hide();
        const MainScreenHost* host = mainScreenHost();
        const int edited = host->editedDetect();
        const StationData& data = m_view->station().data;
        const int shown = data.curTemplate;
        setTemplateTimeText(host->currentCamera(), edited, shown);
        const int count = edited >= 0 && edited < StationData::DetectCount ? data.templateCount[edited] : 0;
        static_cast<CameraWgt_DataWidget_Title_SetROI*>(m_titleStack->widget(1))
            ->setText(zh("模板数 %1 / %2   %3").arg(shown + 1).arg(count).arg(gTemplateTimeText));
        break;
    }
    default:
        break;
    }
}

CameraWgt_DataWidget_Title_SetROI* CameraWgt_DataWidget::showSetROITitle()
{
    if (m_titleStack->count() < 2) {
        return nullptr;
    }
    m_titleStack->setCurrentIndex(1);
    return qobject_cast<CameraWgt_DataWidget_Title_SetROI*>(m_titleStack->widget(1));
}

void CameraWgt_DataWidget::paintEvent(QPaintEvent* event)
{
    if (m_hideButton) {
        m_hideButton->move(width() - 40, (height() - 80) / 2);
        const bool wanted = mainScreenHost()->screenMode() < 2;
        if (m_hideButton->isVisibleTo(this) != wanted) {
            m_hideButton->setVisible(wanted);
        }
    }
    QWidget::paintEvent(event);
}

void CameraWgt_DataWidget::resizeEvent(QResizeEvent* event)
{
    if (m_view) {
        const int viewHeight = m_view->height();
        if (m_layoutMode == 0) {
            if (viewHeight == m_report->height()) {
                m_viewHeight = viewHeight;
            }
            if (m_viewHeight != 0) {
                m_report->setFixedHeight(m_viewHeight);
            }
        } else {
            if (m_viewHeight == 0) {
                m_viewHeight = viewHeight;
            }
            if (viewHeight == m_viewHeight) {
                m_report->setFixedHeight(m_viewHeight);
            } else if (viewHeight > m_viewHeight) {
                m_report->setFixedHeight(viewHeight);
            }
        }
    }
    QWidget::resizeEvent(event);
}

// ---- grid ----

int CameraWgtBox::tilesPerRow(int n)
{
    if (n <= 3) {
        return n;
    }
    if (n <= 6) {
        return int(std::floor(std::sqrt(double(n))));
    }
    return int(std::ceil(std::sqrt(double(n))));
}

int CameraWgtBox::layoutModeFor(int n)
{
    return n == 1 || n >= 4 ? 1 : 0;
}

CameraWgtBox::CameraWgtBox(QWidget* parent)
    : CameraWgtBox(QList<CameraInterface*>(), parent)
{
}

CameraWgtBox::CameraWgtBox(QList<CameraInterface*> cameras, QWidget* parent)
    : QMainWindow(parent)
    , m_cameras(cameras)
{
    move(0, 0);
    const int n = m_cameras.size();
    const int perRow = tilesPerRow(n);
    const int mode = layoutModeFor(n);
    m_outer = new QSplitter(Qt::Vertical, this);
    m_outer->setHandleWidth(0);
    QSplitter* row = nullptr;
    for (int i = 0; i < n; ++i) {
        if (i % perRow == 0) {
            row = new QSplitter(Qt::Horizontal, m_outer);
            row->setHandleWidth(0);
            m_outer->addWidget(row);
        }
        auto* tile = new CameraWgt_DataWidget(i, this);
        tile->setLayoutMode(mode);
        connect(tile, &CameraWgt_DataWidget::sigChangeCameraLayout, this, &CameraWgtBox::slotChangeCameraLayout);
        tile->show();
        m_tiles.append(tile);
        row->addWidget(tile);
    }
    setCentralWidget(m_outer);
    layout()->setContentsMargins(0, 0, 0, 0);
    layout()->setSpacing(3);
    resetSplitSizes();
    setCommonStyleSheet(this, QString());
    // A main window is a top-level window by default; inside the main
    // window's layout it must stay a child widget to be laid out at all.
    setWindowFlags(parent ? Qt::Widget : windowFlags() | Qt::FramelessWindowHint);
    show();
}

void CameraWgtBox::resetSplitSizes()
{
    if (m_tiles.isEmpty()) {
        return;
    }
    for (CameraWgt_DataWidget* tile : m_tiles) {
        tile->show();
    }
    const int rows = m_outer->count();
    auto* first = static_cast<QSplitter*>(m_outer->widget(0));
    const int columnWidth = std::max(1, width() / first->count());
    const int rowHeight = std::max(1, height() / rows);
    QList<int> heights;
    for (int r = 0; r < rows; ++r) {
        auto* row = static_cast<QSplitter*>(m_outer->widget(r));
        QList<int> widths;
        for (int t = 0; t < row->count(); ++t) {
            widths << columnWidth;
        }
        row->setSizes(widths);
        heights << rowHeight;
    }
    m_outer->setSizes(heights);
}

void CameraWgtBox::addTile(CameraWgt_DataWidget* tile)
{
    if (!m_outer->count() || static_cast<QSplitter*>(m_outer->widget(m_outer->count() - 1))->count() >= 4) {
        auto* row = new QSplitter(Qt::Horizontal, m_outer);
        row->setHandleWidth(0);
        m_outer->addWidget(row);
    }
    static_cast<QSplitter*>(m_outer->widget(m_outer->count() - 1))->addWidget(tile);
    m_tiles.append(tile);
}

CammerWidget* CameraWgtBox::cammerWidget(int index) const
{
    CameraWgt_DataWidget* tile = dataWidget(index);
    return tile ? tile->cammerWidget() : nullptr;
}

CameraWgt_DataWidget* CameraWgtBox::dataWidget(int index) const
{
    return index >= 0 && index < m_tiles.size() ? m_tiles.at(index) : nullptr;
}

void CameraWgtBox::slotChangeCameraLayout(int index)
{
    for (CameraWgt_DataWidget* tile : m_tiles) {
        tile->setVisible(index == -1 || tile->camera() == index);
        if (CameraWgt_DataWidget_Title* title = tile->currentTitle()) {
            title->setSingleView(index != -1);
        }
    }
    mainScreenHost()->setCurrentCamera(index == -1 ? gCameraCount : index);
    update();
}
