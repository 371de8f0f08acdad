#include "menubtnwidget.h"

#include "drawroiwidget.h"

#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QPushButton* menuButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setMinimumHeight(80);
    parent->layout()->addWidget(button);
    return button;
}

} // namespace

Main_MenuBtnWidget::Main_MenuBtnWidget(QWidget* parent)
    : QWidget(parent)
{
    new QVBoxLayout(this);
    pBtnSetSystem = menuButton("pBtnSetSystem", tr("系统参数"), this);
    pBtnSetROI = menuButton("pBtnSetROI", tr("区域设置"), this);
    pBtnStatistics = menuButton("pBtnStatistics", tr("生产统计"), this);
    pBtnTemperatureChart = menuButton("pBtnTemperatureChart", tr("温度波形图"), this);
    pBtnCavityManual = menuButton("pBtnCavityManual", tr("模腔手动抓拍"), this);
    pBtnProductManual = menuButton("pBtnProductManual", tr("成品手动抓拍"), this);
    static_cast<QVBoxLayout*>(layout())->addStretch(1);
}

MenuBtnWidget::MenuBtnWidget(QWidget* parent)
    : QWidget(parent)
    , m_pages(new QStackedWidget(this))
    , m_mainMenu(new Main_MenuBtnWidget(m_pages))
    , m_drawROI(new DrawROIWidget(m_pages))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);
    m_pages->addWidget(m_mainMenu);
    m_pages->addWidget(m_drawROI);
    setFixedWidth(220);
}

void MenuBtnWidget::SetMenuPage(int mode)
{
    if (mode == 0) {
        m_pages->setCurrentIndex(0);
    } else if (mode == 2 || mode == 3) {
        m_pages->setCurrentIndex(1);
    }
    update();
}

int MenuBtnWidget::currentPage() const
{
    return m_pages->currentIndex();
}
