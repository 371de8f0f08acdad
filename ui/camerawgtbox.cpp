#include "camerawgtbox.h"

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

CameraWgt_DataWidget::CameraWgt_DataWidget(QWidget* parent)
    : QWidget(parent)
    , m_titleStack(new QStackedWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_titleStack);
    layout->addStretch(1);
}

CameraWgt_DataWidget_Title* CameraWgt_DataWidget::currentTitle() const
{
    return qobject_cast<CameraWgt_DataWidget_Title*>(m_titleStack->currentWidget());
}

CameraWgtBox::CameraWgtBox(QWidget* parent)
    : QWidget(parent)
{
    new QGridLayout(this);
}

void CameraWgtBox::addTile(CameraWgt_DataWidget* tile)
{
    auto* grid = static_cast<QGridLayout*>(layout());
    const int index = m_tiles.size();
    grid->addWidget(tile, index / 4, index % 4);
    m_tiles.append(tile);
}
