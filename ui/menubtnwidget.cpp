#include "menubtnwidget.h"

#include "ccomp_dialogframe.h"
#include "globals.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct MenuButton {
    const char* name;
    const char* text;
    const char* icon;
};

const MenuButton Buttons[] = {
    {"pBtnSetSystem", QT_TRANSLATE_NOOP("Main_MenuBtnWidget", "系统参数"), ":/SetSystem.png"},
    {"pBtnSetROI", QT_TRANSLATE_NOOP("Main_MenuBtnWidget", "区域设置"), ":/SetROI.png"},
    {"pBtnStatistics", QT_TRANSLATE_NOOP("Main_MenuBtnWidget", "生产统计"), ":/Statistics.png"},
    {"pBtnTemperatureChart", QT_TRANSLATE_NOOP("Main_MenuBtnWidget", "温度波形图"), ":/TemperatureChart.png"},
    {"pBtnCavityManual", QT_TRANSLATE_NOOP("Main_MenuBtnWidget", "模腔手动抓拍"), ":/CavityManual.png"},
    {"pBtnProductManual", QT_TRANSLATE_NOOP("Main_MenuBtnWidget", "成品手动抓拍"), ":/ProductManual.png"},
};

// Icon at the top of the content box, caption at its bottom. The style aligns
// the caption to the box's bottom, so the box must end at the button's bottom
// edge: with a negative bottom padding the caption hangs below the button and
// is cut in half. No side padding either: six characters at 16 px fill the
// 100-px column and the common 5-px left padding clips the last one.
QString buttonRule(const QString& selector, const QString& icon, const QString& colour)
{
    return QStringLiteral("%1{padding-top: 40px;padding-bottom: 0px;padding-left: 0px;background-image: url(%2);background-repeat: no-repeat;"
                          "background-origin: content;background-position: top;background-color: %3;font-size:16px;"
                          "text-align: bottom;color: #FFFFFF;font-weight: 400;}")
        .arg(selector, icon, colour);
}

} // namespace

Main_MenuBtnWidget::Main_MenuBtnWidget(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 1);
    layout->setSpacing(1);
    auto* logo = new QPushButton(this);
    logo->setObjectName(QStringLiteral("pBtnLogo"));
    logo->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    layout->addWidget(logo);
    QString sheet = QStringLiteral("QWidget{background-color:#353D45;outline:0px;border:none;}"
                                   "QPushButton#pBtnLogo{background-color: #262E34;font-size:22px;text-align: right;color: #FFFFFF;}");
    QPushButton* made[6];
    for (int i = 0; i < 6; ++i) {
        const QString name = QString::fromLatin1(Buttons[i].name);
        const QString icon = QString::fromLatin1(Buttons[i].icon);
        made[i] = new QPushButton(QCoreApplication::translate("Main_MenuBtnWidget", Buttons[i].text), this);
        made[i]->setObjectName(name);
        layout->addWidget(made[i]);
        const QString id = QStringLiteral("QPushButton#") + name;
        sheet += buttonRule(id, icon, QStringLiteral("#4F5963")) + buttonRule(id + QStringLiteral(":!hover"), icon, QStringLiteral("#4F5963"))
            + buttonRule(id + QStringLiteral(":pressed"), icon, QStringLiteral("#2687F2"));
    }
    connect(made[0], &QPushButton::clicked, this, &Main_MenuBtnWidget::sigSystemPara);
    connect(made[1], &QPushButton::clicked, this, &Main_MenuBtnWidget::sigAdjustArea);
    connect(made[2], &QPushButton::clicked, this, &Main_MenuBtnWidget::sigShowStatisticsWidget);
    connect(made[3], &QPushButton::clicked, this, &Main_MenuBtnWidget::sigTemperatureChart);
    connect(made[4], &QPushButton::clicked, this, [this] { emit sigManualTrig(1); });
    connect(made[5], &QPushButton::clicked, this, [this] { emit sigManualTrig(0); });
    setCommonStyleSheet(this, sheet);
    // A widget is never laid out below its minimum: six buttons of 150 px on
    // a screen too short for them would be stacked over each other (each
    // hiding the caption of the one above) and the last pushed under the
    // dock. The column has the screen's height less the dock's 80-px buttons,
    // and the logo keeps at least its own least height (in its style's font).
    logo->ensurePolished();
    const int column = gScreenHeight - 80 - layout->contentsMargins().bottom() - 6 * layout->spacing()
        - logo->minimumSizeHint().height();
    const int buttonHeight = std::max(0, std::min(150, column / 6));
    for (QPushButton* b : made) {
        b->setMinimumHeight(buttonHeight);
    }
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

void Main_MenuBtnWidget::showEvent(QShowEvent* event)
{
    if (auto* logo = findChild<QPushButton*>(QStringLiteral("pBtnLogo"))) {
        logo->setIconSize(logo->size());
        const QPixmap picture(QStringLiteral("./logo/logo.png"));
        logo->setIcon(picture.isNull() ? QIcon()
                                       : QIcon(picture.scaled(logo->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation)));
        logo->update();
    }
    QWidget::showEvent(event);
}

MenuBtnWidget::MenuBtnWidget(QWidget* parent)
    : QWidget(parent)
    , m_pages(new QStackedWidget(this))
    , m_menu(new Main_MenuBtnWidget(this))
{
    setFixedWidth(100);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);
    m_menu->setObjectName(QStringLiteral("_Main_MenuBtn"));
    m_pages->addWidget(m_menu);
    auto* empty = new QWidget;
    empty->setObjectName(QStringLiteral("_DrawROI_MenuBtn"));
    m_pages->addWidget(empty);
    m_pages->setCurrentIndex(0);
}

void MenuBtnWidget::setAreaPanel(QWidget* panel)
{
    QWidget* old = m_pages->widget(1);
    const bool current = m_pages->currentIndex() == 1;
    panel->setObjectName(QStringLiteral("_DrawROI_MenuBtn"));
    m_pages->insertWidget(1, panel);
    m_pages->removeWidget(old);
    delete old;
    if (current) {
        m_pages->setCurrentIndex(1);
    }
}

QWidget* MenuBtnWidget::areaPanel() const
{
    return m_pages->widget(1);
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
