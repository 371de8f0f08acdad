#include "camerawgtbox.h"

#include "cammerwidget.h"

#include <QGridLayout>
#include <QStackedWidget>
#include <QVBoxLayout>

CameraWgt_DataWidget_Title::CameraWgt_DataWidget_Title(QWidget* parent)
    : QWidget(parent)
{
}

void CameraWgt_DataWidget_Title::updateTitle()
{
}

CameraWgt_DataWidget_Title_SetROI::CameraWgt_DataWidget_Title_SetROI(QWidget* parent)
    : CameraWgt_DataWidget_Title(parent)
    , m_info(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_info);
}

void CameraWgt_DataWidget_Title_SetROI::setText(const QString& text)
{
    m_info->setText(text);
}

QString CameraWgt_DataWidget_Title_SetROI::text() const
{
    return m_info->text();
}

CameraWgt_DataWidget::CameraWgt_DataWidget(QWidget* parent)
    : QWidget(parent)
    , m_titleStack(new QStackedWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_titleStack);
    layout->addStretch(1);
}

CameraWgt_DataWidget::CameraWgt_DataWidget(int camera, CameraInterface* driver, QWidget* parent)
    : QWidget(parent)
    , m_titleStack(new QStackedWidget(this))
    , m_camera(camera)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_titleStack);
    buildTitles();
    m_station = new CammerWidget(this, camera, driver);
    layout->addWidget(m_station, 1);
    connect(m_station, &CammerWidget::click, this, &CameraWgt_DataWidget::sigChangeCameraLayout);
}

void CameraWgt_DataWidget::buildTitles()
{
    m_runTitle = new CameraWgt_DataWidget_Title(m_titleStack);
    m_setRoiTitle = new CameraWgt_DataWidget_Title_SetROI(m_titleStack);
    m_titleStack->addWidget(m_runTitle);
    m_titleStack->addWidget(m_setRoiTitle);
    m_titleStack->setFixedHeight(40);
}

CameraWgt_DataWidget_Title* CameraWgt_DataWidget::currentTitle() const
{
    return qobject_cast<CameraWgt_DataWidget_Title*>(m_titleStack->currentWidget());
}

void CameraWgt_DataWidget::setScreenMode(int mode)
{
    m_screenMode = mode;
    if (m_runTitle) {
        m_titleStack->setCurrentWidget(mode >= 2 ? static_cast<QWidget*>(m_setRoiTitle) : m_runTitle);
    }
}

void CameraWgt_DataWidget::showForCamera(int camera)
{
    m_shownAlone = camera != -1;
    setVisible(camera == -1 || camera == m_camera);
}

CameraWgt_DataWidget_Title_SetROI* CameraWgt_DataWidget::showSetROITitle()
{
    if (m_setRoiTitle) {
        m_titleStack->setCurrentWidget(m_setRoiTitle);
    }
    return m_setRoiTitle;
}

CameraWgtBox::CameraWgtBox(QWidget* parent)
    : QWidget(parent)
{
    new QGridLayout(this);
}

CameraWgtBox::CameraWgtBox(const QList<CameraInterface*>& cameras, QWidget* parent)
    : CameraWgtBox(parent)
{
    for (int c = 0; c < cameras.size(); ++c) {
        auto* tile = new CameraWgt_DataWidget(c, cameras.at(c), this);
        connect(tile, &CameraWgt_DataWidget::sigChangeCameraLayout, this, &CameraWgtBox::slotChangeCameraLayout);
        addTile(tile);
    }
}

void CameraWgtBox::addTile(CameraWgt_DataWidget* tile)
{
    auto* grid = static_cast<QGridLayout*>(layout());
    const int index = m_tiles.size();
    grid->addWidget(tile, index / 4, index % 4);
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
    for (CameraWgt_DataWidget* tile : qAsConst(m_tiles)) {
        tile->showForCamera(index);
    }
}
