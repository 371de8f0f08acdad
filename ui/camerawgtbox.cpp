#include "camerawgtbox.h"

#include "cameraregistry.h"
#include "camerareportform.h"
#include "cammerwidget.h"
#include "ccomp_dialogframe.h"
#include "globals.h"
#include "mainscreenhost.h"
#include "multiplebtngroup.h"
#include "productioncounters.h"
#include "screenstate.h"
#include "systemparam.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

void setTemplateTimeText(int camera, int detect, int templateIndex)
{
    const QFileInfo file(QStringLiteral("./cammer%1%2/template%3.bmp").arg(camera + 1).arg(detect + 1).arg(templateIndex));
    gTemplateTimeText = file.exists() ? file.lastModified().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")) : QString();
}

namespace {

// The title's words, in the operator's language.
QString titleWord(const char* text)
{
    return QCoreApplication::translate("CameraWgtBox", text);
}

QString detectName(int detect)
{
    const int function = gpSystemParam ? gpSystemParam->systemFunction() : 0;
    if (function == 1 || function == 2) {
        static const char* const names[] = {QT_TRANSLATE_NOOP("CameraWgtBox", "左成品"), QT_TRANSLATE_NOOP("CameraWgtBox", "左模腔"),
                                            QT_TRANSLATE_NOOP("CameraWgtBox", "右成品"), QT_TRANSLATE_NOOP("CameraWgtBox", "右模腔")};
        return detect >= 0 && detect < 4 ? titleWord(names[detect]) : QString();
    }
    if (detect == 0) {
        return QCoreApplication::translate("CameraWgtBox", "成品");
    }
    return detect == 1 ? QCoreApplication::translate("CameraWgtBox", "模腔") : QString();
}

// The verdict's green and red (#4CAF50, #F44336) darkened so that its white
// word reads at 4.5 : 1.
const char* const ResultOkSheet =
    "QLabel#_lab_result{color:white;background-color:#39833C;font-size:45px;text-align:center;}";
const char* const ResultNgSheet =
    "QLabel#_lab_result{color:white;background-color:#D73B30;font-size:45px;text-align:center;}";

} // namespace

namespace {

// A piece of a title text: its colour (none: plain) and its words.
using TextPiece = QPair<QString, QString>;

QString richText(const QList<TextPiece>& pieces)
{
    QString text;
    for (const TextPiece& p : pieces) {
        text += p.first.isEmpty() ? p.second : colouredText(p.first, p.second);
    }
    return text;
}

// A title text in coloured pieces. Where the title is narrower than its
// texts (three tiles a row, a small panel) the label ends with "…" after the
// last piece that fits instead of being cut in the middle of a word right
// against the next label, where counters and status line read as one. It
// asks for its whole text, so it is whole whenever the title has the room.
class TitleTextLabel : public QLabel {
public:
    explicit TitleTextLabel(QWidget* parent)
        : QLabel(parent)
    {
        setTextFormat(Qt::RichText);
        // Its least width is not its text: the tile gives way, not the screen.
        setMinimumWidth(1);
    }

    // One plain text, shown as it is (blanks kept), cut with "…" the same way.
    void setPlain(const QString& text)
    {
        setTextFormat(Qt::PlainText);
        setPieces({TextPiece(QString(), text)});
    }

    void setPieces(const QList<TextPiece>& pieces)
    {
        if (pieces == m_pieces) {
            return;
        }
        m_pieces = pieces;
        m_plain.clear();
        for (const TextPiece& p : pieces) {
            m_plain += p.second;
        }
        updateGeometry();
        fit();
    }

    // A label that yields asks for no width: it gets what its neighbours leave.
    void setYields(bool yields)
    {
        m_yields = yields;
        updateGeometry();
    }

    QSize sizeHint() const override
    {
        if (m_yields) {
            return QSize(1, QLabel::sizeHint().height());
        }
        const QMargins m = contentsMargins();
        return QSize(fontMetrics().horizontalAdvance(m_plain) + 2 * margin() + m.left() + m.right() + 2,
                     QLabel::sizeHint().height());
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        fit();
    }

    void changeEvent(QEvent* event) override
    {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
            updateGeometry();
            fit();
        }
    }

private:
    void fit()
    {
        const QFontMetrics fm = fontMetrics();
        const int room = contentsRect().width() - 2 * margin() - 2;
        QString shown;
        // Trailing blanks need no room: a text whose words fit is whole.
        int end = m_plain.size();
        while (end > 0 && m_plain.at(end - 1).isSpace()) {
            --end;
        }
        if (textFormat() == Qt::PlainText) {
            shown = fm.horizontalAdvance(m_plain.left(end)) <= room ? m_plain : fm.elidedText(m_plain, Qt::ElideRight, room);
        } else if (fm.horizontalAdvance(m_plain.left(end)) <= room) {
            shown = richText(m_pieces);
        } else {
            QList<TextPiece> fitting;
            int used = 0;
            for (const TextPiece& p : m_pieces) {
                const int w = fm.horizontalAdvance(p.second);
                if (used + w + fm.horizontalAdvance(QChar(0x2026)) <= room) {
                    fitting << p;
                    used += w;
                    continue;
                }
                // A piece that fits only without the "…" after it is cut
                // within its own width: the text goes on after it.
                QString cut = fm.elidedText(p.second, Qt::ElideRight, std::max(0, std::min(room - used, w - 1)));
                if (!cut.endsWith(QChar(0x2026))) {
                    cut = QString(QChar(0x2026));
                }
                fitting << TextPiece(p.first, cut);
                break;
            }
            shown = richText(fitting);
        }
        if (text() != shown) {
            setText(shown);
        }
    }

    QList<TextPiece> m_pieces;
    QString m_plain;
    bool m_yields = false;
};

TitleTextLabel* titleText(QLabel* label)
{
    return static_cast<TitleTextLabel*>(label);
}

// Colour and words of a tile's status line.
TextPiece statusLine(int camera)
{
    const MainScreenHost* host = mainScreenHost();
    QString colour;
    QString state;
    const OperatingState& op = screenState();
    switch (op.runState()) {
    case Sampling:
        colour = QStringLiteral("cyan");
        state = QCoreApplication::translate("CameraWgtBox", "取样中");
        break;
    case Stopped:
        colour = QStringLiteral("#FF0000");
        state = QCoreApplication::translate("CameraWgtBox", "停止中");
        break;
    default:
        colour = QStringLiteral("#00FF00");
        switch (op.cyclePhase()) {
        case Delaying: state = QCoreApplication::translate("CameraWgtBox", "检测中"); break;
        case Done: state = QCoreApplication::translate("CameraWgtBox", "检测完"); break;
        case Waiting: state = QCoreApplication::translate("CameraWgtBox", "等待中"); break;
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
    QString text = QCoreApplication::translate("CameraWgtBox", "%1号相机 %2 %3").arg(camera + 1).arg(detectName(host->currentDetect()), state);
    if (delay > 0.02) {
        text += QLatin1Char(' ') + QString::number(delay, 'g', 3);
    }
    return TextPiece(colour, text);
}

} // namespace

QString titleStatusText(int camera)
{
    const TextPiece line = statusLine(camera);
    return colouredText(line.first, line.second);
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
    m_cameraLabel = new QLabel(QCoreApplication::translate("CameraWgtBox", "相机%1").arg(m_camera + 1), this);
    m_cameraLabel->setObjectName(QStringLiteral("cameraLabel"));
    m_cameraLabel->installEventFilter(this);
    m_selector = new MultipleBtnGroup(gCameraCount, this);
    m_selector->setObjectName(QStringLiteral("_pBtnGroup"));
    m_selector->markButton(m_camera);
    // Titles start as in the all-cameras view. A selector shown until the
    // main window first picks the view would widen every tile by its row of
    // buttons (about 800 px with eight cameras), and a window still taking
    // its size from its layout would keep that width.
    m_selector->hide();
    connect(m_selector, &MultipleBtnGroup::buttonClicked, this, [this](int id) {
        emit m_tile->sigChangeCameraLayout(id);
        update();
    });
    m_runStatus = new TitleTextLabel(this);
    m_runStatus->setObjectName(QStringLiteral("_lab_runstatus"));
    // The stopped state's pure red reads at under 3 : 1 on the title's grey:
    // the status sits on a near-black field of its own, where red, green
    // and cyan all stand out.
    m_runStatus->setStyleSheet(
        QStringLiteral("QLabel#_lab_runstatus{background-color:#101010;border-radius:4px;}"));
}

void CameraWgt_DataWidget_Title::updateTitle()
{
    if (!m_runStatus) {
        return;
    }
    // Only a changed text costs a repaint of the label.
    titleText(m_runStatus)->setPieces({statusLine(m_camera)});
}

void CameraWgt_DataWidget_Title::setSingleView(bool single)
{
    if (!m_cameraLabel) {
        return;
    }
    m_cameraLabel->setVisible(!single);
    m_selector->setVisible(single);
    refit();
    update();
}

void CameraWgt_DataWidget_Title::refit()
{
    // The titles of hidden tiles change too, and the layouts above a hidden
    // widget do not hear of it: shown again, the tile would keep the least
    // width of the selector's row (about 900 px with eight cameras) and push
    // the grid off the screen.
    updateGeometry();
    if (QWidget* stack = parentWidget()) {
        stack->updateGeometry();
    }
}

CameraWgt_DataWidget_Title_Normal::CameraWgt_DataWidget_Title_Normal(QWidget* parent)
    : CameraWgt_DataWidget_Title(parent)
{
    if (!m_tile) {
        return;
    }
    // A plain label's text is its least width: with eight tiles, three a
    // row, the counters and the status line would widen every tile and push
    // the third column, the menu column and the dock's buttons off the
    // screen. They give way (ending in "…") instead.
    m_report = new TitleTextLabel(this);
    m_report->setObjectName(QStringLiteral("_lab_detectreport"));
    // It asks for no width of its own, so across it takes what the status
    // line leaves: on a narrow tile (three a row at 1280 or 1024 px) the run
    // state stays readable and the counters give way first. With room to
    // spare it takes all the spare width, as an expanding label does.
    m_report->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    titleText(m_report)->setYields(true);
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("_lab_result"));
    // No verdict yet: the first pass shows OK or NG whatever the flag is.
    m_result->setAlignment(Qt::AlignCenter);
    m_result->setMinimumSize(100, 50);
    m_result->setStyleSheet(QStringLiteral("QLabel{color:white;background-color:#39833C;font-size:45px}"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(m_cameraLabel);
    row->addWidget(m_selector, 0, Qt::AlignTop);
    row->addWidget(m_report);
    row->addWidget(m_runStatus);
    row->addWidget(m_result);

    setCommonStyleSheet(this, QStringLiteral("QWidget{background-color:#353D45;outline:0px;border:none;}")
        + QStringLiteral("QLabel#%1{color:white;background-color:#39833C;font-size:45px;text-align:center;}"
                         "QLabel#%1[isok = false]{color:white;background-color:#D73B30;font-size:45px;text-align:center;}")
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
    const QString blank = QStringLiteral(" ");
    titleText(m_report)->setPieces({{white, QCoreApplication::translate("CameraWgtBox", "帧率 ")}, {cyan, QString::number(frames)}, {QString(), blank},
                                     {white, QCoreApplication::translate("CameraWgtBox", "NG数 ")}, {cyan, QString::number(ng)}, {QString(), blank},
                                     {white, QCoreApplication::translate("CameraWgtBox", "总数 ")}, {cyan, QString::number(total)}, {QString(), blank}});
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
    // The template line and the status line give way as in the run-mode
    // title (both pages of the stack count for the tile's least width), and
    // a centred line too long for its label ends in "…" rather than losing
    // both its ends.
    m_info = new TitleTextLabel(this);
    titleText(m_info)->setPlain(QCoreApplication::translate("CameraWgtBox", "图片信息"));
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
    refit();
    update();
}

void CameraWgt_DataWidget_Title_SetROI::setText(const QString& text)
{
    if (m_info) {
        titleText(m_info)->setPlain(text);
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
    // Three rows of tiles on a 720- or 768-line panel leave a tile less than
    // the table's 200 lines: the table's bottom is cut there, the rows stay
    // on the screen.
    m_report->setMinimumHeight(1);

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
        // Beside the view the row itself keeps the table as tall as the view,
        // lower and taller alike. A table aligned to the top and fixed to the
        // tallest view it saw (the single view, area setting without the dock)
        // would hold every tile at that height when all cameras are shown
        // again, and the rows would push the dock off the screen.
        sub = new QHBoxLayout;
        sub->addWidget(m_view, 2);
        sub->addWidget(m_report, 1);
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
        const int edited = screenState().editedDetect();
        const StationData& data = m_view->station().data;
        const int shown = data.curTemplate;
        setTemplateTimeText(screenState().shownCamera(), edited, shown);
        const int count = edited >= 0 && edited < StationData::DetectCount ? data.templateCount[edited] : 0;
        static_cast<CameraWgt_DataWidget_Title_SetROI*>(m_titleStack->widget(1))
            ->setText(QCoreApplication::translate("CameraWgtBox", "模板数 %1 / %2   %3").arg(shown + 1).arg(count).arg(gTemplateTimeText));
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
        const bool wanted = screenState().screenMode() < Alarm;
        if (m_hideButton->isVisibleTo(this) != wanted) {
            m_hideButton->setVisible(wanted);
        }
        // The button stands over a strip of its own at the right edge: over
        // the table it covered the rightmost cells (the result).
        auto* main = static_cast<QVBoxLayout*>(layout());
        if (QLayout* sub = main->count() > 1 ? main->itemAt(1)->layout() : nullptr) {
            const int right = wanted ? m_hideButton->width() : 0;
            if (sub->contentsMargins().right() != right) {
                sub->setContentsMargins(0, 0, right, 0);
                // Laid out now, so that this very picture has the strip.
                main->activate();
            }
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
    // A row whose tiles were all hidden by the single view has no size; a
    // collapsible row would stay collapsed when its tiles are shown again.
    m_outer->setChildrenCollapsible(false);
    QSplitter* row = nullptr;
    for (int i = 0; i < n; ++i) {
        if (i % perRow == 0) {
            row = new QSplitter(Qt::Horizontal, m_outer);
            row->setHandleWidth(0);
            row->setChildrenCollapsible(false);
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
    equaliseSplitSizes();
}

void CameraWgtBox::equaliseSplitSizes()
{
    if (m_tiles.isEmpty()) {
        return;
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
    // The single view leaves the other rows and tiles at no size at all, and
    // the splitters give the tiles shown again their sizes of no size back
    // once they have taken the show: after that, all cameras get their even
    // shares again (unless a camera was chosen alone in between).
    if (index == -1) {
        QTimer::singleShot(0, this, [this] {
            if (screenState().shownCamera() == gCameraCount) {
                equaliseSplitSizes();
            }
        });
    }
    screenState().setShownCamera(index == -1 ? gCameraCount : index);
    update();
}
