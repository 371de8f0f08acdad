#include "cammerwidget.h"

#include "cameraregistry.h"
#include "captionfit.h"
#include "circle.h"
#include "clustomrect.h"
#include "colorbutton.h"
#include "detectalgorithm.h"
#include "globals.h"
#include "imagehelpers.h"
#include "nearestscale.h"
#include "operatorprompt.h"
#include "repolygon.h"
#include "roiinterface.h"
#include "slider.h"
#include "operatingstate.h"
#include "stationhost.h"
#include "systemparam.h"
#include "texttable.h"

#include <QFontMetrics>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int Areas = StationData::AreasPerDetect;
const QColor DarkBlue(0x00, 0x00, 0x80);
const QColor Salmon(QStringLiteral("#E9967A"));

const SystemParam* live()
{
    return gpSystemParam;
}

int sysValue(int (SystemParam::*get)() const)
{
    return live() ? (live()->*get)() : 0;
}

qint32 low16(qint32 v)
{
    return qint32(qint16(quint16(quint32(v) & 0xFFFFu)));
}

qint32 high16(qint32 v)
{
    return qint32(qint16(quint16(quint32(v) >> 16)));
}

// v written as the 16-bit two's complement half of packed, the other half kept.
qint32 withHalf(qint32 packed, bool high, int v)
{
    const quint32 half = quint32(quint16(qint16(v)));
    const quint32 p = quint32(packed);
    return qint32(high ? (p & 0x0000FFFFu) | (half << 16) : (p & 0xFFFF0000u) | half);
}

} // namespace

CammerWidget::CammerWidget(QWidget* parent, int camera, CameraInterface* driver)
    : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Every paint covers the whole view (black, the frame or a picture):
    // nothing of the tile behind it needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_station = std::make_unique<CameraStation>(camera, driver, this);
    m_station->repaintHandler = [this] { update(); };
    m_station->paraPanelHandler = [this] { UpdateParaPanel(); };
    alarmTimer = new QTimer(this);
    alarmTimer->setInterval(1000);
    connect(alarmTimer, &QTimer::timeout, this, &CammerWidget::TimerShowAlarm);
    buildPanel();
    show();
}

CammerWidget::~CammerWidget() = default;

void CammerWidget::buildPanel()
{
    auto blue = [this](const QString& text) {
        auto* b = new ColorButton(text, this);
        b->hide();
        return b;
    };
    paramSlider = new Slider(0, 10, 1, 25, this, QString());
    lowerSlider = new Slider(0, 255, 1, 25, this, QString());
    upperSlider = new Slider(0, 1000, 1, 50, this, QString());
    connect(paramSlider, &QAbstractSlider::valueChanged, this, &CammerWidget::SlotMinWH);
    connect(lowerSlider, &QAbstractSlider::valueChanged, this, &CammerWidget::SlotSensitivity);
    connect(upperSlider, &QAbstractSlider::valueChanged, this, &CammerWidget::SlotArea);

    functionLabel = new QLabel(textOf(2), this);
    QFont font(QStringLiteral("SimHei"));
    font.setPixelSize(30);
    functionLabel->setFont(font);
    // Over the camera's picture: a dark backing keeps the green readable.
    functionLabel->setStyleSheet(QStringLiteral("color: rgb(0, 255, 0); background-color: rgba(0, 0, 0, 170);"));
    functionButton = blue(QString());
    connect(functionButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeFunc);
    paramSwitchButton = blue(textOf(3));
    connect(paramSwitchButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeParaShow);

    outputCombo = new ComboBox(this);
    const char* outputs[] = {"N1", "N2", "N4", "N5", "N6", "N7", "N8", "N9", "N10"};
    for (int i = 0; i < 9; ++i) {
        outputCombo->addItem(tr(outputs[i]), i);
    }
    QFont itemFont(QStringLiteral("SimHei"));
    itemFont.setPixelSize(20);
    outputCombo->setItemFont(itemFont);
    outputCombo->setItemHeight(50);
    connect(outputCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &CammerWidget::SlotOutN);

    nextRoiButton = blue(textOf(4));
    connect(nextRoiButton, &QPushButton::clicked, this, &CammerWidget::SlotNextROI);
    handleButton = blue(QString());
    connect(handleButton, &QPushButton::clicked, this, &CammerWidget::SlotChangeObject);
    add10Button = blue(QString());
    add1Button = blue(QString());
    sub1Button = blue(QString());
    sub10Button = blue(QString());
    connect(add10Button, &QPushButton::clicked, this, &CammerWidget::SlotAdd10);
    connect(add1Button, &QPushButton::clicked, this, &CammerWidget::SlotAdd1);
    connect(sub1Button, &QPushButton::clicked, this, &CammerWidget::SlotSub1);
    connect(sub10Button, &QPushButton::clicked, this, &CammerWidget::SlotSub10);
    for (ColorButton* b : {add10Button, add1Button, sub1Button, sub10Button}) {
        setButtonAutoRepeat(b);
    }

    moveUpButton = blue(textOf(5));
    moveDownButton = blue(textOf(6));
    moveLeftButton = blue(textOf(7));
    moveRightButton = blue(textOf(8));
    const int y = gScreenHeight - 145;
    moveUpButton->setGeometry(300, y, 200, 75);
    moveDownButton->setGeometry(510, y, 200, 75);
    moveLeftButton->setGeometry(720, y, 200, 75);
    moveRightButton->setGeometry(930, y, 200, 75);
    connect(moveUpButton, &QPushButton::clicked, this, &CammerWidget::SlotMoveT);
    connect(moveDownButton, &QPushButton::clicked, this, &CammerWidget::SlotMoveB);
    connect(moveLeftButton, &QPushButton::clicked, this, &CammerWidget::SlotMoveL);
    connect(moveRightButton, &QPushButton::clicked, this, &CammerWidget::SlotMoveR);
    for (ColorButton* b : {moveUpButton, moveDownButton, moveLeftButton, moveRightButton}) {
        setButtonAutoRepeat(b);
    }
    moveModeButton = blue(QString());
    moveModeButton->setGeometry(1140, y, 220, 75);
    connect(moveModeButton, &QPushButton::clicked, this, &CammerWidget::SlotMoveAll);

    for (QWidget* w : std::initializer_list<QWidget*>{paramSlider, lowerSlider, upperSlider, functionLabel,
                                                      outputCombo}) {
        w->hide();
    }
    // The panel's places are sized for the Chinese captions.
    CaptionFit::watchAll(this);
}

int CammerWidget::editDetect() const
{
    const OperatingState* op = operatingState();
    const int d = op ? op->editedDetect() : 0;
    return d >= 0 && d < DetectsPerCamera ? d : 0;
}

ROIInterface* CammerWidget::selectedShape() const
{
    const CameraStation& st = *m_station;
    const QList<ROIInterface*>& list = st.pEditSingleton->roiLists[editDetect()];
    return st.selectedRoi >= 0 && st.selectedRoi < list.size() ? list[st.selectedRoi] : nullptr;
}

// ---------------------------------------------------------------- size and alarm

void CammerWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    CameraStation& st = *m_station;
    const QSize s = event->size();
    if (gScreenWidth > 0 && gScreenHeight > 0) {
        st.screenScaleX = float(s.width()) / float(gScreenWidth);
        st.screenScaleY = float(s.height()) / float(gScreenHeight);
    }
    if (st.data.imageWidth > 0 && st.data.imageHeight > 0) {
        st.imageScaleX = float(s.width()) / float(st.data.imageWidth);
        st.imageScaleY = float(s.height()) / float(st.data.imageHeight);
    }
}

void CammerWidget::TimerShowAlarm()
{
    CameraStation& st = *m_station;
    if (st.data.resultOk == 1) {
        st.blinkState = 0;
        alarmTimer->stop();
    } else {
        st.blinkState = st.blinkState ? 0 : 1;
    }
    update();
}

// ---------------------------------------------------------------- painting

void CammerWidget::sampleFrame()
{
    const StationData& d = m_station->data;
    const int w = width();
    const int h = height();
    if (m_view.size() != size()) {
        m_view = QImage(w, h, QImage::Format_RGB32);
    }
    // Frame pixel under the centre of each widget column and row, as a fast
    // scale of the whole frame picks it.
    if (int(m_columnMap.size()) != w || int(m_rowMap.size()) != h || (w > 0 && m_columnMap.back() >= d.imageWidth)
        || (h > 0 && m_rowMap.back() >= d.imageHeight) || m_mappedFrame != QSize(d.imageWidth, d.imageHeight)) {
        m_mappedFrame = QSize(d.imageWidth, d.imageHeight);
        m_columnMap.resize(std::size_t(w));
        m_rowMap.resize(std::size_t(h));
        for (int x = 0; x < w; ++x) {
            m_columnMap[std::size_t(x)] = int((2 * qint64(x) + 1) * d.imageWidth / (2 * qint64(w)));
        }
        for (int y = 0; y < h; ++y) {
            m_rowMap[std::size_t(y)] = int((2 * qint64(y) + 1) * d.imageHeight / (2 * qint64(h)));
        }
    }
    const bool colour = d.bufferSize == 4 * d.pixelCount;
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<quint32*>(m_view.scanLine(y));
        const std::size_t row = std::size_t(m_rowMap[std::size_t(y)]) * std::size_t(d.imageWidth);
        if (colour) {
            const auto* in = reinterpret_cast<const uchar*>(d.displayBuffer.data()) + 4 * row;
            for (int x = 0; x < w; ++x) {
                quint32 v;
                std::memcpy(&v, in + 4 * std::size_t(m_columnMap[std::size_t(x)]), 4);
                out[x] = 0xFF000000u | v;
            }
        } else {
            const uchar* in = d.displayBuffer.data() + row;
            for (int x = 0; x < w; ++x) {
                out[x] = 0xFF000000u | (quint32(in[m_columnMap[std::size_t(x)]]) * 0x010101u);
            }
        }
    }
}

template <typename Fn>
void CammerWidget::forEachShownPixel(QRect r, Fn fn)
{
    const StationData& d = m_station->data;
    // Areas loaded from the store may lie partly outside the frame.
    r = r.normalized().intersected(QRect(0, 0, d.imageWidth, d.imageHeight));
    if (r.isEmpty() || m_columnMap.empty() || m_rowMap.empty()) {
        return;
    }
    const auto x0 = std::lower_bound(m_columnMap.begin(), m_columnMap.end(), r.left()) - m_columnMap.begin();
    const auto x1 = std::upper_bound(m_columnMap.begin(), m_columnMap.end(), r.right()) - m_columnMap.begin();
    const auto y0 = std::lower_bound(m_rowMap.begin(), m_rowMap.end(), r.top()) - m_rowMap.begin();
    const auto y1 = std::upper_bound(m_rowMap.begin(), m_rowMap.end(), r.bottom()) - m_rowMap.begin();
    for (auto y = y0; y < y1; ++y) {
        const std::size_t row = std::size_t(m_rowMap[std::size_t(y)]) * std::size_t(d.imageWidth);
        for (auto x = x0; x < x1; ++x) {
            fn(int(x), int(y), row + std::size_t(m_columnMap[std::size_t(x)]));
        }
    }
}

void CammerWidget::tintWhere(const QRect& r, const uchar* mask, quint32 colour)
{
    const std::size_t pixels = std::size_t(m_station->data.pixelCount);
    if (!mask || pixels == 0) {
        return;
    }
    forEachShownPixel(r, [&](int x, int y, std::size_t i) {
        if (mask[i]) {
            reinterpret_cast<quint32*>(m_view.scanLine(y))[x] = 0xFF000000u | colour;
        }
    });
}

QString CammerWidget::areaLabel(const CammerSingleton& set, int detect, int i) const
{
    const StationData& d = m_station->data;
    const int s = detect * Areas + i;
    const int function = set.roiFunction[s];
    const QString v = QStringLiteral("%1").arg(d.roiValue[s]);
    QString l;
    if (sysValue(&SystemParam::showAllAlgoParams) == 0 && function == FuncDefect) {
        l = QStringLiteral("%1").arg(sysValue(&SystemParam::alarmArea));
    } else if (function == FuncSimilarity) {
        l = QStringLiteral("%1").arg(set.roiLower[s]);
    } else if (function == FuncSpot) {
        l = QStringLiteral("%1--%2").arg(set.roiLower[s]).arg(set.roiUpper[s]);
    } else if (function == FuncTempAlarm) {
        l = QStringLiteral("%1--%2").arg(low16(set.roiLower[s])).arg(low16(set.roiUpper[s]));
    } else {
        l = QStringLiteral("%1").arg(set.roiUpper[s]);
    }
    if (set.roiCount[detect] <= 10) {
        return QStringLiteral("%1: %2 / %3 ").arg(i + 1).arg(l, v);
    }
    return QStringLiteral("%1: %2").arg(i + 1).arg(v);
}

namespace {

// Text that reads on any picture: the letters in their colour inside a rim
// that stands against it (dark around light colours, light around dark
// ones), so a green label reads on bright metal and a dark blue one on a
// dark mould. One line, placed as drawText would place it in box.
void drawOutlinedText(QPainter& painter, const QRect& box, int flags, const QString& text, const QColor& colour)
{
    if (text.isEmpty()) {
        return;
    }
    const QFontMetrics metrics(painter.font());
    const QRect bound = metrics.boundingRect(box, flags, text);
    QPainterPath path;
    path.addText(bound.left(), bound.top() + metrics.ascent(), painter.font(), text);
    const bool darkColour = colour.lightness() < 110;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(darkColour ? QColor(255, 255, 255, 235) : QColor(0, 0, 0, 235), 5, Qt::SolidLine, Qt::RoundCap,
                        Qt::RoundJoin));
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(path);
    painter.restore();
}

} // namespace

void CammerWidget::paintAreas(QPainter& painter, const CammerSingleton& set, int m, bool templateView)
{
    const CameraStation& st = *m_station;
    const StationData& d = st.data;
    const OperatingState* op = operatingState();
    const int screen = op ? int(op->screenMode()) : int(Live);
    QFont font(QStringLiteral("SimHei"));
    font.setPixelSize(30);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    const int selected = st.selectedRoi;
    const QList<ROIInterface*>& list = set.roiLists[m];
    const int count = std::min(int(list.size()), int(set.roiCount[m]));
    const bool showAll = sysValue(&SystemParam::showAllAlgoParams) != 0;
    for (int i = 0; i < count; ++i) {
        const int s = m * Areas + i;
        const int function = set.roiFunction[s];
        if (!templateView) {
            if (function == FuncPosition) continue;
        } else if (selected >= 0 && moveMode != 2 && i != selected) {
            continue;
        }
        QColor colour;
        if (screen == 0) {
            colour = DarkBlue;
        } else if ((d.resultOk == 1 && function != FuncTempAlarm) || d.roiOk[s] == 1) {
            colour = Qt::green;
        } else {
            colour = Qt::red;
        }
        const ROIInterface* shape = list[i];
        painter.setPen(QPen(colour, 1));
        painter.setBrush(Qt::NoBrush);
        shape->drawScaled(&painter, st.imageScaleX, st.imageScaleY);

        painter.setPen(colour);
        const QString label = areaLabel(set, m, i);
        QPoint at;
        if (templateView && selected >= 0) {
            if (i == selected) {
                at = QPoint(width() / 2 - 100, 5);
            }
        } else {
            const QPoint a = shape->anchorPoint();
            const int ax = int(a.x() * st.imageScaleX);
            const int ay = int(a.y() * st.imageScaleY);
            at = QPoint(ax + 10, ay > 26 ? ay - 26 : ay);
        }
        if (!(templateView && selected >= 0 && i != selected)) {
            drawOutlinedText(painter, QRect(at, QSize(400, 25)), Qt::AlignLeft | Qt::AlignVCenter, label, colour);
        }

        if (templateView && function == FuncDefect && (selected < 0 || i == selected)) {
            const int side = showAll ? set.roiParam[s] : sysValue(&SystemParam::filterSize);
            const int area = showAll ? set.roiUpper[s] : sysValue(&SystemParam::alarmArea);
            const int q2 = int(std::sqrt(double(std::max(0, area))));
            const QRect& r = *shape;
            const int c = (r.right() + r.left()) / 2;
            const int q = (r.right() - r.left()) / 4;
            const int cy = int((r.bottom() + r.top()) / 2 * st.imageScaleY);
            const int cx1 = int((c - q) * st.imageScaleX);
            const int cx2 = int((c + q) * st.imageScaleX);
            painter.setPen(QPen(Qt::blue, 1));
            painter.drawRect(cx1 - side / 2, cy - side / 2, side, side);
            painter.setPen(QPen(Salmon, 1));
            painter.drawRect(cx2 - q2 / 2, cy - q2 / 2, q2, q2);
        }
    }
}

void CammerWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    CameraStation& st = *m_station;
    const StationData& d = st.data;
    StationHost* host = stationHost();
    if (d.imageWidth <= 0 || d.imageHeight <= 0 || d.displayBuffer.size() != std::size_t(d.bufferSize)
        || width() <= 0 || height() <= 0) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const int source = gImageSource;
    if (source == 2 || source == 3 || source == 4) {
        const double offX = host ? host->panX() : 0.0;
        const double offY = host ? host->panY() : 0.0;
        const double zoomX = host ? host->zoomX() : 1.0;
        const double zoomY = host ? host->zoomY() : 1.0;
        const QTransform view = QTransform::fromTranslate(offX, offY).scale(zoomX, zoomY);
        const QImage picture = source != 2 && host && host->recordPictureCount() > 0 ? host->recordPicture() : QImage();
        if (view.isIdentity() && picture.format() == QImage::Format_Grayscale8 && !picture.isNull()) {
            // Untransformed, a grey picture reaches the screen as its RGB32
            // copy, and drawing that is a plain copy; scaled to the tile it
            // covers every pixel, so there is no black to lay under it.
            painter.drawImage(0, 0, nearestScaledGreyAsRgb32(picture, size()));
            return;
        }
        painter.fillRect(rect(), Qt::black);
        if (source == 2) {
            sampleFrame();
            painter.translate(offX, offY);
            painter.scale(zoomX, zoomY);
            painter.drawImage(0, 0, m_view);
        } else if (host && host->recordPictureCount() > 0) {
            painter.translate(offX, offY);
            painter.scale(zoomX, zoomY);
            painter.drawImage(0, 0, nearestScaled(picture, size()));
        }
        return;
    }

    const bool templateView = source == 0;
    const int m = templateView ? editDetect() : std::clamp(st.currentDetect(), 0, DetectsPerCamera - 1);
    const CammerSingleton& set = templateView ? *st.pEditSingleton : *st.pLiveSingleton;
    const OperatingState* op = operatingState();
    const int screen = op ? int(op->screenMode()) : int(Live);
    const QList<ROIInterface*>& list = set.roiLists[m];
    const int count = std::min(int(list.size()), int(set.roiCount[m]));
    const std::size_t pixels = std::size_t(d.pixelCount);

    sampleFrame();
    if (screen == 2 && source == 1 && st.blinkState == 1 && d.overlayMask.size() == pixels) {
        for (int i = 0; i < count; ++i) {
            if (d.roiOk[m * Areas + i] == 0) {
                tintWhere(*list[i], d.overlayMask.data(), 0xFF0000u);
            }
        }
    }
    if (templateView) {
        const std::vector<uchar>& edited = st.editIgnoreMasks[m];
        const std::vector<uchar>& ignore = edited.size() == pixels ? edited : d.ignoreMasks[m];
        if (ignore.size() == pixels) {
            for (int i = 0; i < count; ++i) {
                tintWhere(*list[i], ignore.data(), 0x00FFFFu);
            }
        }
    }
    if (d.showMeasure && st.selectedRoi >= 0 && st.selectedRoi < count && d.overlayMask.size() == pixels) {
        tintWhere(*list[st.selectedRoi], d.overlayMask.data(), 0x00FFFFu);
    }
    painter.drawImage(0, 0, m_view);

    const bool showAreas = screen == 1 || (screen == 0 && sysValue(&SystemParam::liveRoiShow) != 0)
                           || templateView || (screen == 2 && source == 1);
    if (showAreas) {
        paintAreas(painter, set, m, templateView);
    }

    if (st.editAction == 1) {
        const int mode = op ? int(op->drawMode()) : int(DrawNone);
        if ((mode == DrawRect || mode == DrawCircle) && st.drawingShape) {
            painter.setPen(QPen(Qt::magenta, 1));
            painter.setBrush(Qt::NoBrush);
            st.drawingShape->drawScaled(&painter, st.imageScaleX, st.imageScaleY);
        } else if (mode == 2) {
            painter.setPen(QPen(Qt::magenta, 2));
            const int n = std::min(st.pointCount, CameraStation::MaxPolygonPoints);
            for (int k = 0; k + 1 < n; ++k) {
                const QPoint& a = st.polygonPoints[std::size_t(k)];
                const QPoint& b = st.polygonPoints[std::size_t(k + 1)];
                painter.drawLine(int(a.x() * st.imageScaleX), int(a.y() * st.imageScaleY),
                                 int(b.x() * st.imageScaleX), int(b.y() * st.imageScaleY));
            }
            if (n >= 1) {
                const QPoint& p0 = st.polygonPoints[0];
                painter.setPen(QPen(Qt::cyan, 2));
                painter.drawEllipse(int(p0.x() * st.imageScaleX - 5), int(p0.y() * st.imageScaleY - 5), 10, 10);
            }
        }
    }

    if (templateView) {
        QFont font(QStringLiteral("SimHei"));
        font.setPixelSize(30);
        painter.setFont(font);
        const int h = height();
        // The legend on a light panel of its own: pure blue letters on a dark
        // picture did not read. The swatches carry the colours.
        // Each caption as wide as it needs (an English one is longer than the
        // 150 px its Chinese one takes), the swatch after the longer one.
        const QString filterCaption = QStringLiteral("%1 :").arg(textOf(22));
        const QString areaCaption = QStringLiteral("%1 :").arg(textOf(24));
        const QFontMetrics metrics(font);
        const int textWidth = std::max({150, metrics.horizontalAdvance(filterCaption), metrics.horizontalAdvance(areaCaption)});
        painter.fillRect(QRect(4, h - 86, textWidth + 46, 78), QColor(255, 255, 255, 225));
        painter.setPen(QColor(QStringLiteral("#262E34")));
        painter.drawText(QRect(10, h - 80, textWidth, 25), Qt::AlignLeft | Qt::AlignVCenter, filterCaption);
        painter.fillRect(QRect(textWidth + 15, h - 80, 25, 25), Qt::blue);
        painter.drawText(QRect(10, h - 40, textWidth, 25), Qt::AlignLeft | Qt::AlignVCenter, areaCaption);
        painter.fillRect(QRect(textWidth + 15, h - 40, 25, 25), Salmon);
    }
}

// ---------------------------------------------------------------- touch

void CammerWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
}

void CammerWidget::mousePressEvent(QMouseEvent* event)
{
    CameraStation& st = *m_station;
    StationHost* host = stationHost();
    const OperatingState* op = operatingState();
    const int shown = op ? op->shownCamera() : -1;
    const int x = event->pos().x();
    const int y = event->pos().y();
    if (shown == st.data.cameraIndex) {
        st.ProbePixel(x, y);
    }
    if (shown == gCameraCount) {
        emit click(st.data.cameraIndex);
        QWidget::mousePressEvent(event);
        return;
    }
    if (gImageSource != 0) {
        setCursor(Qt::ArrowCursor);
        QWidget::mousePressEvent(event);
        return;
    }
    st.editAction = 0;
    pointDragEnabled = true;
    const QPoint P = st.framePoint(x, y);
    if (host && host->copyAreaArmed()) {
        host->setCopyAreaArmed(false);
        SlotCopyArea(P);
        return;
    }
    const int tool = op ? int(op->drawMode()) : int(DrawNone);
    const int d = editDetect();
    QList<ROIInterface*>& list = st.pEditSingleton->roiLists[d];
    if (tool != 0) {
        setCursor(Qt::CrossCursor);
        lastPoint = currentPoint = P;
        if (tool == 2) {
            st.editAction = 1;
            st.polygonDrawing = true;
            const bool freehand = host && host->freehandDrawing();
            if (!freehand) {
                if (st.pointCount >= CameraStation::MaxPolygonPoints) {
                    st.pointCount = CameraStation::MaxPolygonPoints - 1;
                    warnOperator(textOf(35));
                } else {
                    const QPoint first = st.polygonPoints[0];
                    const bool nearFirst = st.pointCount > 0 && std::abs(P.x() - first.x()) < 10
                                           && std::abs(P.y() - first.y()) < 10;
                    if (!nearFirst) {
                        st.polygonPoints[std::size_t(st.pointCount++)] = P;
                    }
                }
            }
        } else {
            // A shape left over from a refused or dropped drawing is not used again.
            delete st.drawingShape;
            st.drawingShape = tool == 4 ? static_cast<ROIInterface*>(new Circle()) : new ClustomRect();
            st.drawingShape->setTopLeft(P);
            st.drawingShape->setBottomRight(P);
            st.editAction = 5;
            rectEditing = true;
        }
    } else if (st.FindSelectedROI()) {
        ROIInterface* shape = list[st.selectedRoi];
        const bool hit = shape->hitTest(P) || shape->hitHandle(P, &hitHandleIndex);
        const bool polygon = shape->type() == ROIPolygon;
        if (hit) {
            if (!polygon && shape->hitHandle(P, &hitHandleIndex)) {
                st.editAction = 3;
                lastPoint = P;
                rectEditing = true;
            } else if (polygon && shape->hitHandle(P, &hitHandleIndex)) {
                st.editAction = 3;
                st.polygonDrawing = true;
                lastPoint = P;
            } else {
                setCursor(Qt::SizeAllCursor);
                (polygon ? st.polygonDrawing : rectEditing) = true;
                st.editAction = 2;
                lastPoint = P;
            }
        } else {
            st.lastSelectedRoi = st.selectedRoi;
            st.selectedRoi = -1;
            setCursor(Qt::CrossCursor);
            lastPoint = currentPoint = P;
            shape->setSelected(false);
        }
    } else {
        const int n = list.size();
        const int start = st.selectedRoi >= 0 && st.selectedRoi < n ? st.selectedRoi : 0;
        for (int k = 0; k < n; ++k) {
            const int i = (start + k) % n;
            ROIInterface* shape = list[i];
            int handle = -1;
            if (shape->hitTest(P) || shape->hitHandle(P, &handle)) {
                st.selectedRoi = i;
                pressPoint = P;
                setCursor(Qt::SizeAllCursor);
                shape->setSelected(true);
                handleIndex = 0;
                st.editAction = 2;
                lastPoint = P;
                (shape->type() == ROIPolygon ? st.polygonDrawing : rectEditing) = true;
                break;
            }
        }
    }
    update();
    QWidget::mousePressEvent(event);
}

void CammerWidget::mouseMoveEvent(QMouseEvent* event)
{
    CameraStation& st = *m_station;
    StationHost* host = stationHost();
    const OperatingState* op = operatingState();
    const int x = event->pos().x();
    const int y = event->pos().y();
    if (op && op->shownCamera() == st.data.cameraIndex) {
        st.ProbePixel(x, y);
    }
    if (gImageSource != 0) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    QPoint P = st.framePoint(x, y);
    const int w = st.data.imageWidth;
    const int h = st.data.imageHeight;
    // While a finger is down Qt keeps sending moves from outside the widget:
    // every point that becomes part of an area is kept inside the frame.
    auto clamped = [w, h](QPoint p) {
        int px = p.x();
        int py = p.y();
        clampCoordinate(&px, true, w, h);
        clampCoordinate(&py, false, w, h);
        return QPoint(px, py);
    };
    ROIInterface* selected = st.FindSelectedROI() ? selectedShape() : nullptr;
    ROIInterface* S = selected && selected->type() != ROIPolygon ? selected : nullptr;
    ROIInterface* G = selected && selected->type() == ROIPolygon ? selected : nullptr;
    const int d = editDetect();

    if (rectEditing) {
        switch (st.editAction) {
        case 1:
            if (st.drawingShape) {
                P = clamped(P);
                st.drawingShape->setBottomRight(P);
                st.drawingShape->updateBounds();
                update();
            }
            break;
        case 2:
            if (S && !(std::abs(P.x() - lastPoint.x()) < 3 && std::abs(P.y() - lastPoint.y()) < 3)) {
                currentPoint = P;
                S->moveBy(P.x() - lastPoint.x(), P.y() - lastPoint.y(), w, h);
                clampRectToImage(*S, w, h, true);
                S->updateBounds();
                lastPoint = P;
                update();
            }
            break;
        case 3:
            if (S) {
                P = clamped(P);
                currentPoint = P;
                S->dragHandle(hitHandleIndex, lastPoint, P);
                clampRectToImage(*S, w, h, false);
                S->updateBounds();
                lastPoint = P;
                update();
            }
            break;
        case 5:
            if (st.drawingShape) {
                st.editAction = 1;
                // The first corner of a drag is kept inside the frame like every later one.
                st.drawingShape->setBottomRight(clamped(P));
                st.drawingShape->updateBounds();
            }
            break;
        default:
            break;
        }
    } else if (st.polygonDrawing) {
        switch (st.editAction) {
        case 1:
            if (host && host->freehandDrawing() && st.pointCount < CameraStation::MaxPolygonPoints - 1) {
                st.polygonPoints[std::size_t(st.pointCount++)] = clamped(P);
            }
            update();
            break;
        case 2:
            if (G && !(std::abs(P.x() - lastPoint.x()) < 3 && std::abs(P.y() - lastPoint.y()) < 3)) {
                currentPoint = P;
                const QRect moved = G->normalized().translated(P - lastPoint);
                if (moved.left() >= 3 && moved.top() >= 3 && moved.right() <= w - 4 && moved.bottom() <= h - 4) {
                    G->moveBy(P.x() - lastPoint.x(), P.y() - lastPoint.y(), w, h);
                    G->updateBounds();
                    lastPoint = P;
                }
            }
            update();
            break;
        case 3:
            if (G && pointDragEnabled) {
                P = clamped(P);
                currentPoint = P;
                G->dragHandle(hitHandleIndex, lastPoint, P);
                lastPoint = P;
            }
            update();
            break;
        default:
            break;
        }
    } else {
        int handle = -1;
        if (S && S->hitHandle(P, &handle) && handle >= 0 && handle <= 7) {
            hitHandleIndex = handle;
            static const Qt::CursorShape shapes[8] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                                      Qt::SizeHorCursor,   Qt::SizeHorCursor, Qt::SizeBDiagCursor,
                                                      Qt::SizeVerCursor,   Qt::SizeFDiagCursor};
            setCursor(shapes[handle]);
        } else {
            bool any = false;
            for (ROIInterface* shape : st.pEditSingleton->roiLists[d]) {
                int k = -1;
                if (shape->hitTest(P) || shape->hitHandle(P, &k)) {
                    any = true;
                    break;
                }
            }
            if (any) {
                setCursor(Qt::SizeAllCursor);
            } else {
                setCursor(Qt::ArrowCursor);
                update();
            }
        }
    }
    QWidget::mouseMoveEvent(event);
}

void CammerWidget::mouseReleaseEvent(QMouseEvent* event)
{
    CameraStation& st = *m_station;
    if (gImageSource != 0) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    StationHost* host = stationHost();
    const int d = editDetect();
    OperatingState* op = operatingState();
    auto setTool = [op](int mode) {
        if (op) op->setDrawMode(DrawMode(mode));
    };
    const int tool = op ? int(op->drawMode()) : int(DrawNone);
    if (rectEditing) {
        if (st.editAction == 1) {
            if (tool == 1 || tool == 4) {
                const ROIInterface* shape = st.drawingShape;
                if (!shape || shape->width() <= 10 || shape->height() <= 10) {
                    setTool(0);
                    st.editAction = 0;
                } else if (st.pEditSingleton->roiCount[d] >= Areas) {
                    warnOperator(textOf(36));
                } else {
                    st.SaveNewROI();
                    setTool(0);
                    st.editAction = 0;
                }
            } else {
                setTool(0);
                st.editAction = 0;
            }
        } else if (st.editAction == 5) {
            setTool(0);
            st.editAction = 0;
        }
        rectEditing = false;
    }
    if (st.editAction == 2 || st.editAction == 3) {
        if (ROIInterface* shape = selectedShape()) {
            shape->updateBounds();
            st.data.editRoiMasks[d * Areas + st.selectedRoi] = shape->createMask();
        }
        st.polygonDrawing = false;
        st.editAction = 0;
    } else if (st.polygonDrawing && st.editAction == 1 && host && host->freehandDrawing()) {
        if (st.pointCount <= 5) {
            st.polygonDrawing = false;
            st.editAction = 0;
            setTool(0);
            st.pointCount = 0;
            UpdateParaPanel();
            update();
        } else {
            st.SavePolygon();
        }
    }
    UpdateParaPanel();
    pointDragEnabled = false;
    update();
    QWidget::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------- the editor panel

void CammerWidget::labelSliders(int function)
{
    const CammerSingleton& edit = *m_station->pEditSingleton;
    const int s = editDetect() * Areas + m_station->selectedRoi;
    const qint32 p = edit.roiParam[s];
    const qint32 lo = edit.roiLower[s];
    const qint32 up = edit.roiUpper[s];
    switch (function) {
    case FuncSpot:
        paramSlider->setParam(0, 255, 1, p & 0xFF, textOf(10));
        lowerSlider->setParam(0, 99999, 1, lo, textOf(13));
        upperSlider->setParam(0, 99999, 1, up, textOf(14));
        break;
    case FuncIgnoreArea:
        paramSlider->setParam(0, 255, 1, p, textOf(16));
        lowerSlider->setParam(0, 255, 1, lo, textOf(16));
        upperSlider->setParam(0, 255, 1, up, textOf(16));
        break;
    case FuncPosition:
        paramSlider->setParam(1, 100, 1, p, textOf(20));
        lowerSlider->setParam(1, 32, 1, lo, textOf(16));
        upperSlider->setParam(1, 100, 1, up, textOf(16));
        break;
    case FuncBlackArea:
        lowerSlider->setParam(0, 255, 1, lo, textOf(11));
        upperSlider->setParam(0, 50000, 1, up, textOf(24));
        break;
    case FuncWhiteArea:
        lowerSlider->setParam(0, 255, 1, lo, textOf(10));
        upperSlider->setParam(0, 50000, 1, up, textOf(24));
        break;
    case FuncSimilarity:
        lowerSlider->setParam(0, 100, 1, lo, textOf(362));
        break;
    case FuncWhiteNum:
        paramSlider->setParam(1, 100, 1, p, textOf(22));
        lowerSlider->setParam(0, 255, 1, lo, textOf(10));
        upperSlider->setParam(0, 100, 1, up, textOf(522));
        break;
    case FuncTempAlarm:
        paramSlider->setParam(0, 100, 1, int(quint32(p) & 0xFFFFu), textOf(571));
        lowerSlider->setParam(-40, 600, 1, low16(lo), textOf(569));
        upperSlider->setParam(-40, 600, 1, low16(up), textOf(568));
        break;
    case FuncAngleCorrect:
        paramSlider->setParam(1, 2, 1, p, textOf(20));
        lowerSlider->setParam(1, 2, 1, lo, textOf(16));
        upperSlider->setParam(1, 2, 1, up, textOf(16));
        break;
    default:
        paramSlider->setParam(1, 10, 1, p, textOf(22));
        lowerSlider->setParam(0, 255, 1, lo, textOf(23));
        upperSlider->setParam(0, 1000, 1, up, textOf(24));
        break;
    }
}

namespace {
int functionNameText(int function)
{
    switch (function) {
    case FuncSpot: return 15;
    case FuncIgnoreArea: return 17;
    case FuncPosition: return 21;
    case FuncBlackArea: return 392;
    case FuncWhiteArea: return 393;
    case FuncSimilarity: return 398;
    case FuncWhiteNum: return 521;
    case FuncTempAlarm: return 570;
    case FuncAngleCorrect: return 583;
    default: return 25;
    }
}
} // namespace

void CammerWidget::UpdateParaPanel()
{
    CameraStation& st = *m_station;
    st.data.showMeasure = false;
    QList<QWidget*> panel{paramSlider, lowerSlider,  upperSlider, functionLabel, functionButton, paramSwitchButton,
                          outputCombo, nextRoiButton, handleButton, add10Button, add1Button,    sub1Button,
                          sub10Button};
    QList<QWidget*> moves{moveUpButton, moveDownButton, moveLeftButton, moveRightButton, moveModeButton};
    ROIInterface* shape = selectedShape();
    if (st.selectedRoi == -1 || !shape) {
        for (QWidget* w : panel + moves) {
            w->hide();
        }
        moveMode = 0;
        handleIndex = 0;
        moveModeButton->setText(textOf(12));
        update();
        return;
    }
    // Laying the panel out must not write to the area: the controls' value
    // signals would clamp stored values into the slider ranges and start a
    // measurement. Only the operator's own changes reach the slots.
    const QSignalBlocker blockParam(paramSlider);
    const QSignalBlocker blockLower(lowerSlider);
    const QSignalBlocker blockUpper(upperSlider);
    const QSignalBlocker blockOutput(outputCombo);

    const int d = editDetect();
    const int s = d * Areas + st.selectedRoi;
    const CammerSingleton& edit = *st.pEditSingleton;
    const int function = edit.roiFunction[s];
    const bool showAll = sysValue(&SystemParam::showAllAlgoParams) != 0;

    const QRect R = shape->normalized();
    const int top = int(R.top() * st.imageScaleY);
    const int bottom = int((R.top() + R.height()) * st.imageScaleY);
    const int H = showAll ? 204 : 102;
    const int L = gScreenHeight - 170;
    int Y = bottom + H < L ? bottom + 5 : (H < top ? top - H : L - H);

    const int S = gScreenWidth / 2 + 25;
    const int W = gLanguage == 3 ? 180 : 120;
    lowerSlider->setGeometry(400, Y, S, 45);
    if (showAll) {
        upperSlider->setGeometry(400, Y + 50, S, 45);
        paramSlider->setGeometry(400, Y + 100, S, 45);
        Y += 100;
    }
    const int row = Y + 50;
    functionLabel->setGeometry(400, row, 80, 45);
    functionButton->setGeometry(483, row, 120, 45);
    paramSwitchButton->setGeometry(606, row, W, 45);
    outputCombo->setGeometry(W + 609, row, 55, 45);
    nextRoiButton->setGeometry(W + 667, row, W, 45);
    handleButton->setGeometry(2 * W + 670, row, 93, 45);
    add10Button->setGeometry(2 * W + 766, row, 93, 45);
    add1Button->setGeometry(2 * W + 862, row, 93, 45);
    sub1Button->setGeometry(2 * W + 958, row, 93, 45);
    sub10Button->setGeometry(2 * W + 1054, row, 93, 45);

    paramShowAlt = false;
    labelSliders(function);
    functionButton->setText(textOf(functionNameText(function)));

    for (QWidget* w : moves) {
        w->show();
    }
    paramSwitchButton->setVisible(function == FuncSpot || function == FuncTempAlarm);
    if (moveMode != 0) {
        for (QWidget* w : panel) {
            if (w != paramSwitchButton) w->hide();
        }
        paramSwitchButton->hide();
    } else {
        if (showAll) {
            paramSlider->setVisible(function != FuncBlackArea && function != FuncWhiteArea
                                    && function != FuncSimilarity);
            upperSlider->setVisible(function != FuncSimilarity);
        } else {
            paramSlider->hide();
            upperSlider->hide();
        }
        const SystemParam* p = live();
        const bool anySwitch = p
                               && (p->algoDefect() || p->algoSpot() || p->algoIgnoreArea() || p->manualLocateArea()
                                   || p->angleCorrect() || p->algoBlackArea() || p->algoWhiteArea()
                                   || p->algoWhiteCount() || p->algoSimilarity()
                                   || (p->tempAlarm() && (st.isThermal || st.isSimulated)));
        if (anySwitch) {
            functionButton->show();
            functionLabel->show();
        }
        for (QWidget* w : {static_cast<QWidget*>(lowerSlider), static_cast<QWidget*>(handleButton),
                           static_cast<QWidget*>(add10Button), static_cast<QWidget*>(add1Button),
                           static_cast<QWidget*>(sub1Button), static_cast<QWidget*>(sub10Button),
                           static_cast<QWidget*>(nextRoiButton)}) {
            w->show();
        }
        if (d == 0 && sysValue(&SystemParam::ejectorPulseOnNg) != 0) {
            outputCombo->setCurrentIndex(std::clamp(int(edit.roiOutput[st.selectedRoi]), 0, 8));
            outputCombo->show();
        }
    }

    const int type = shape->type();
    if (type == ROICircle && (handleIndex == 0 || handleIndex == 1)) {
        add10Button->setText(tr("+10"));
        add1Button->setText(tr("+1"));
        sub1Button->setText(tr("-1"));
        sub10Button->setText(tr("-10"));
    } else {
        add10Button->setText(tr("Y -1"));
        add1Button->setText(tr("X -1"));
        sub1Button->setText(tr("Y +1"));
        sub10Button->setText(tr("X +1"));
    }
    if (type == ROIPolygon) {
        handleButton->setText(textOf(31).arg(handleIndex + 1));
    } else if (type == ROICircle) {
        handleButton->setText(textOf(handleIndex == 1 ? 26 : handleIndex == 2 ? 27 : 28));
    } else {
        handleButton->setText(textOf(handleIndex == 1 ? 29 : 30));
    }
    update();
}

void CammerWidget::writeSelected(int which, int value)
{
    CameraStation& st = *m_station;
    if (!selectedShape()) {
        return;
    }
    const int d = editDetect();
    const int s = d * Areas + st.selectedRoi;
    CammerSingleton& edit = *st.pEditSingleton;
    qint32* target = which == 0 ? &edit.roiParam[s] : which == 1 ? &edit.roiLower[s] : &edit.roiUpper[s];
    const int function = edit.roiFunction[s];
    if (which == 0 && function == FuncSpot) {
        const int shift = paramShowAlt ? 8 : 0;
        *target = qint32((quint32(*target) & ~(0xFFu << shift)) | (quint32(value & 0xFF) << shift));
    } else if (function == FuncTempAlarm) {
        *target = withHalf(*target, paramShowAlt, value);
    } else {
        *target = value;
        if (StationHost* host = stationHost()) {
            host->startDrawHint(3000);
        }
    }
    if (st.pDetector) {
        st.pDetector->MeasureROI(d, st.selectedRoi);
    }
}

void CammerWidget::SlotMinWH(int value)
{
    writeSelected(0, value);
}

void CammerWidget::SlotSensitivity(int value)
{
    writeSelected(1, value);
}

void CammerWidget::SlotArea(int value)
{
    writeSelected(2, value);
}

void CammerWidget::SlotChangeParaShow()
{
    CameraStation& st = *m_station;
    if (!selectedShape()) {
        return;
    }
    paramShowAlt = !paramShowAlt;
    const int s = editDetect() * Areas + st.selectedRoi;
    const CammerSingleton& edit = *st.pEditSingleton;
    const int function = edit.roiFunction[s];
    const QSignalBlocker blockParam(paramSlider);
    const QSignalBlocker blockLower(lowerSlider);
    const QSignalBlocker blockUpper(upperSlider);
    if (function == FuncSpot) {
        if (paramShowAlt) {
            paramSlider->setParam(0, 255, 1, (edit.roiParam[s] >> 8) & 0xFF, textOf(11));
        } else {
            paramSlider->setParam(0, 255, 1, edit.roiParam[s] & 0xFF, textOf(10));
        }
    } else if (function == FuncTempAlarm) {
        if (paramShowAlt) {
            lowerSlider->setParam(1, 3, 1, int(quint32(edit.roiLower[s]) >> 16), textOf(617));
            upperSlider->setParam(-100, 100, 1, high16(edit.roiUpper[s]), textOf(574));
            paramSlider->setParam(-100, 100, 1, high16(edit.roiParam[s]), textOf(573));
        } else {
            labelSliders(function);
        }
    }
    update();
}

void CammerWidget::SlotChangeFunc()
{
    CameraStation& st = *m_station;
    if (!selectedShape()) {
        return;
    }
    const SystemParam* p = live();
    auto offered = [&](int f) {
        if (!p) return false;
        switch (f) {
        case FuncDefect: return p->algoDefect() != 0;
        case FuncSpot: return p->algoSpot() != 0;
        case FuncIgnoreArea: return p->algoIgnoreArea() != 0;
        case FuncPosition: return p->manualLocateArea() != 0;
        case FuncBlackArea: return p->algoBlackArea() != 0;
        case FuncWhiteArea: return p->algoWhiteArea() != 0;
        case FuncSimilarity: return p->algoSimilarity() != 0;
        case FuncWhiteNum: return p->algoWhiteCount() != 0;
        case FuncTempAlarm: return p->tempAlarm() != 0 && (st.isThermal || st.isSimulated);
        case FuncAngleCorrect: return p->angleCorrect() != 0;
        default: return false;
        }
    };
    static const int order[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10};
    constexpr int n = int(sizeof order / sizeof order[0]);
    const int s = editDetect() * Areas + st.selectedRoi;
    CammerSingleton& edit = *st.pEditSingleton;
    int at = 0;
    while (at < n && order[at] != edit.roiFunction[s]) {
        ++at;
    }
    // Once round at most: with every switch off there is nothing to offer and
    // the area keeps its function.
    for (int k = 1; k <= n; ++k) {
        const int f = order[(at + k) % n];
        if (offered(f)) {
            if (f == edit.roiFunction[s]) {
                return;
            }
            AreaSettings a{edit.roiFunction[s], edit.roiParam[s], edit.roiLower[s], edit.roiUpper[s]};
            applyFunctionDefaults(a, f);
            edit.roiFunction[s] = a.function;
            edit.roiParam[s] = a.param;
            edit.roiLower[s] = a.lower;
            edit.roiUpper[s] = a.upper;
            UpdateParaPanel();
            paramShowAlt = false;
            return;
        }
    }
}

void CammerWidget::SlotOutN(int channel)
{
    CameraStation& st = *m_station;
    if (editDetect() != 0 || !selectedShape() || channel < 0 || channel > 8) {
        return;
    }
    st.pEditSingleton->roiOutput[st.selectedRoi] = channel;
}

void CammerWidget::SlotChangeObject()
{
    ROIInterface* shape = selectedShape();
    if (!shape) {
        return;
    }
    ++handleIndex;
    if (handleIndex >= shape->objectCount()) {
        handleIndex = 0;
    }
    UpdateParaPanel();
    update();
}

void CammerWidget::rebuildSelectedMask()
{
    CameraStation& st = *m_station;
    if (ROIInterface* shape = selectedShape()) {
        st.data.editRoiMasks[editDetect() * Areas + st.selectedRoi] = shape->createMask();
    }
}

void CammerWidget::SlotSize(int direction)
{
    CameraStation& st = *m_station;
    ROIInterface* shape = selectedShape();
    if (!shape) {
        return;
    }
    shape->adjustObject(handleIndex, direction, st.data.imageWidth, st.data.imageHeight);
    shape->updateBounds();
    rebuildSelectedMask();
    update();
}

void CammerWidget::SlotMove(int dx, int dy)
{
    CameraStation& st = *m_station;
    if (!selectedShape()) {
        return;
    }
    const int d = editDetect();
    const int w = st.data.imageWidth;
    const int h = st.data.imageHeight;
    QList<ROIInterface*>& list = st.pEditSingleton->roiLists[d];
    for (int i = 0; i < list.size(); ++i) {
        if (moveMode != 2 && i != st.selectedRoi) {
            continue;
        }
        ROIInterface* shape = list[i];
        shape->moveBy(dx, dy, w, h);
        clampRectToImage(*shape, w, h, true);
        shape->updateBounds();
        st.data.editRoiMasks[d * Areas + i] = shape->createMask();
    }
    UpdateParaPanel();
    update();
}

void CammerWidget::SlotMoveAll()
{
    if (selectedShape()) {
        moveMode = (moveMode + 1) % 3;
        moveModeButton->setText(textOf(moveMode == 1 ? 32 : moveMode == 2 ? 34 : 12));
    }
    UpdateParaPanel();
}

void CammerWidget::SlotNextROI()
{
    CameraStation& st = *m_station;
    QList<ROIInterface*>& list = st.pEditSingleton->roiLists[editDetect()];
    const int n = list.size();
    if (n == 0) {
        return;
    }
    const int start = st.selectedRoi >= 0 && st.selectedRoi < n ? st.selectedRoi + 1 : 0;
    for (int k = 0; k < n; ++k) {
        const int i = (start + k) % n;
        int handle = -1;
        if (list[i]->hitTest(pressPoint) || list[i]->hitHandle(pressPoint, &handle)) {
            st.polygonDrawing = false;
            st.editAction = 0;
            delete st.drawingShape;
            st.drawingShape = nullptr;
            if (OperatingState* op = operatingState()) {
                op->setDrawMode(DrawNone);
            }
            st.pointCount = 0;
            if (ROIInterface* old = selectedShape()) {
                old->setSelected(false);
            }
            st.selectedRoi = i;
            list[i]->setSelected(true);
            UpdateParaPanel();
            update();
            return;
        }
    }
}

void CammerWidget::SlotCopyArea(QPoint target)
{
    CameraStation& st = *m_station;
    const int d = editDetect();
    CammerSingleton& edit = *st.pEditSingleton;
    QList<ROIInterface*>& list = edit.roiLists[d];
    if (list.isEmpty()) {
        return;
    }
    if (askOperator(textOf(38), 2) != 1) {
        return;
    }
    if (list.size() >= Areas) {
        warnOperator(textOf(36));
        return;
    }
    if (st.selectedRoi < 0 || st.selectedRoi >= list.size()) {
        st.selectedRoi = st.lastSelectedRoi >= 0 && st.lastSelectedRoi < list.size() ? st.lastSelectedRoi
                                                                                       : list.size() - 1;
    }
    const int w = st.data.imageWidth;
    const int h = st.data.imageHeight;
    ROIInterface* source = list[st.selectedRoi];
    const int n = list.size();
    const int type = source->type();
    ROIInterface* copy = type == ROICircle    ? static_cast<ROIInterface*>(new Circle())
                         : type == ROIPolygon ? static_cast<ROIInterface*>(new RePolygon())
                                              : static_cast<ROIInterface*>(new ClustomRect());
    list.append(copy);
    QJsonObject json;
    source->toJson(json);
    copy->fromJson(json);
    const QPoint centre = source->normalized().center();
    copy->moveBy(target.x() - centre.x(), target.y() - centre.y(), w, h);
    clampRectToImage(*copy, w, h, true);
    copy->setSelected(true);
    copy->updateBounds();
    const int base = d * Areas;
    st.data.editRoiMasks[base + n] = copy->createMask();

    source->setSelected(false);
    const int from = base + st.selectedRoi;
    edit.roiShapeType[base + n] = edit.roiShapeType[from];
    edit.roiParam[base + n] = edit.roiParam[from];
    edit.roiLower[base + n] = edit.roiLower[from];
    edit.roiUpper[base + n] = edit.roiUpper[from];
    edit.roiFunction[base + n] = edit.roiFunction[from];
    st.data.roiValue[base + n] = 0;
    if (d == 0) {
        edit.roiOutput[n] = edit.roiOutput[st.selectedRoi];
    }
    edit.roiCount[d] = list.size();
    st.selectedRoi = n;
    UpdateParaPanel();
    update();
}
