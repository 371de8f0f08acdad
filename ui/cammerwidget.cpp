#include "cammerwidget.h"

#include "globals.h"
#include "stationhost.h"
#include "systemparam.h"

#include <QImage>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>

CammerWidget::CammerWidget(QWidget* parent, int camera, CameraInterface* driver)
    : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_station = std::make_unique<CameraStation>(camera, driver, this);
    m_station->repaintHandler = [this] { update(); };
    m_station->paraPanelHandler = [this] { UpdateParaPanel(); };
    alarmTimer = new QTimer(this);
    alarmTimer->setInterval(1000);
    show();
}

CammerWidget::~CammerWidget() = default;

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

void CammerWidget::paintEvent(QPaintEvent*)
{
    // The display frame, scaled to the widget; overlays come with the view.
    QPainter painter(this);
    CameraStation& st = *m_station;
    const StationData& d = st.data;
    if (d.imageWidth <= 0 || d.imageHeight <= 0 || d.displayBuffer.size() != std::size_t(d.bufferSize)) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const bool colour = d.bufferSize == 4 * d.pixelCount;
    QImage frame(d.displayBuffer.data(), d.imageWidth, d.imageHeight, d.imageWidth * (colour ? 4 : 1),
                 colour ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
    painter.drawImage(rect(), frame);
}
