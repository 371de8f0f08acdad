#include "helpwidget.h"

#include "areapanellogic.h"
#include "globals.h"
#include "kiticons.h"
#include "systemparam.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int kTitleHeight = 60;
// The menu column at the right edge stays uncovered: the panel whose tools
// the screen explains is next to it.
constexpr int kMenuColumnWidth = 100;
constexpr int kTextHelpTitle = 111;
constexpr int kTextIntro = 676;

// The panel's captions, in the panel's translation context, so the screen
// names each tool exactly as its button reads.
QString panelCaption(const char* source)
{
    return QCoreApplication::translate("DrawROIWidget", source);
}

const char* const kPanelCaptions[][2] = {
    {"pCButtonReturn", QT_TRANSLATE_NOOP("DrawROIWidget", "完成设定")},
    {"pCButtonEditArea", QT_TRANSLATE_NOOP("DrawROIWidget", "增减区域")},
    {"pCButtonChangeOp", QT_TRANSLATE_NOOP("DrawROIWidget", "查看模板")},
    {"pCButtonDrawRect", QT_TRANSLATE_NOOP("DrawROIWidget", "画矩形")},
    {"pCButtonDrawCircle", QT_TRANSLATE_NOOP("DrawROIWidget", "画圆形")},
    {"pCButtonDrawHand", QT_TRANSLATE_NOOP("DrawROIWidget", "画手势区域")},
    {"pCButtonCopyArea", QT_TRANSLATE_NOOP("DrawROIWidget", "复制当前区域")},
    {"pCButtonDeleteROI", QT_TRANSLATE_NOOP("DrawROIWidget", "删除选中区域")},
    {"pCButtonDeleteAllROI", QT_TRANSLATE_NOOP("DrawROIWidget", "删除全部区域")},
    {"pCButtonTempDeleteCur", QT_TRANSLATE_NOOP("DrawROIWidget", "删除当前模板")},
    {"pCButtonAddTemp", QT_TRANSLATE_NOOP("DrawROIWidget", "添加为模板")},
    {"pCButtonNoCheckCur", QT_TRANSLATE_NOOP("DrawROIWidget", "不检测此模")},
    {"pCButtonReCheck", QT_TRANSLATE_NOOP("DrawROIWidget", "重新检测")},
    {"pCButtonAutoChange", QT_TRANSLATE_NOOP("DrawROIWidget", "实时↔模板")},
};

QString joined(const QStringList& parts)
{
    return parts.join(QStringLiteral(" / "));
}

} // namespace

const QList<HelpWidget::Entry>& HelpWidget::entries()
{
    // In the order an operator meets them: the return and the three choices
    // at the top of the column, the area tools, the picture and template
    // tools, and the commands of the alarm review.
    static const QList<Entry> list{
        {"pCButtonReturn", ":/SetSystem.png", 677},
        {"pComboChangeSource", ":/down-arrow.png", 678},
        {"pComboChangeCamera", ":/down-arrow.png", 679},
        {"pComboChangeDetect", ":/down-arrow.png", 680},
        {"pCButtonEditArea", ":/EditArea.png", 681},
        {"pCButtonChangeOp", ":/ViewTemp.png", 682},
        {"pCButtonDrawRect", ":/Rectangle.png", 683},
        {"pCButtonDrawCircle", ":/Circle.png", 684},
        {"pCButtonDrawPloygn", ":/Polygon.png", 685},
        {"pCButtonDrawHand", ":/DrawGestureArea.png", 686},
        {"pCButtonCopyArea", ":/CopyArea.png", 687},
        {"pCButtonDeleteROI", ":/DeleteSelect.png", 688},
        {"pCButtonDeleteAllROI", ":/DeleteAll.png", 689},
        {"pCButtonTempLast", ":/LastPage.png", 690},
        {"pCButtonTempNext", ":/NextPage.png", 691},
        {"pCButtonTempDeleteCur", ":/DeleteTemp.png", 692},
        {"pCButtonAddTemp", ":/AddTemplate.png", 693},
        {"pCButtonNoCheckCur", ":/DoNotDetectTemp.png", 694},
        {"pCButtonReCheck", ":/Retest.png", 695},
        {"pCButtonAutoChange", ":/RealTime2Temp.png", 696},
    };
    return list;
}

QString HelpWidget::toolName(const Entry& entry)
{
    const QLatin1String name(entry.objectName);
    for (const auto& caption : kPanelCaptions) {
        if (name == QLatin1String(caption[0])) {
            return panelCaption(caption[1]);
        }
    }
    // The buttons whose caption follows the source or the drawing show both.
    if (name == QLatin1String("pCButtonTempLast")) {
        return joined({textOf(559), textOf(59)});
    }
    if (name == QLatin1String("pCButtonTempNext")) {
        return joined({textOf(560), textOf(62)});
    }
    if (name == QLatin1String("pCButtonDrawPloygn")) {
        return joined({textOf(53), textOf(33)});
    }
    if (name == QLatin1String("pComboChangeSource")) {
        return joined({panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "模板")),
                       panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "实时画面")),
                       panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "最近NG图")),
                       panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "OK图片记录")),
                       panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "NG图片记录"))});
    }
    if (name == QLatin1String("pComboChangeCamera")) {
        return joined({panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "%1 号相机")).arg(1),
                       panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "全部相机"))});
    }
    if (name == QLatin1String("pComboChangeDetect")) {
        const int type = gpSystemParam ? gpSystemParam->systemFunction() : 0;
        QStringList detects;
        for (int d = 0; d < gDetectCount; ++d) {
            detects << AreaPanelLogic::detectName(type, d) + panelCaption(QT_TRANSLATE_NOOP("DrawROIWidget", "检测"));
        }
        return joined(detects);
    }
    return QString();
}

HelpWidget::HelpWidget(QWidget* parent)
    : QWidget(parent)
{
    ensureKitIcons();
    setObjectName(QStringLiteral("HelpWidget"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("HelpWidget{background-color:#262E34;}"
                                 "QLabel{color:#FFFFFF;background:transparent;}"
                                 "QLabel#helpName{font-size:22px;font-weight:bold;color:#5AA8FF;}"
                                 "QLabel#helpText{font-size:20px;}"
                                 "QLabel#helpIntro{font-size:20px;color:#CCCCCC;}"
                                 "QScrollArea, QScrollArea > QWidget > QWidget{background:transparent;border:none;}"));

    closeButton = new QPushButton(this);
    closeButton->setObjectName(QStringLiteral("helpClose"));
    closeButton->setFocusPolicy(Qt::NoFocus);
    closeButton->setStyleSheet(QStringLiteral("QPushButton{background-color: red;border-image: url(:/Close.png);}"));
    connect(closeButton, &QPushButton::clicked, this, &QWidget::hide);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(30, kTitleHeight + 15, 30, 15);
    outer->setSpacing(15);
    introLabel = new QLabel(this);
    introLabel->setObjectName(QStringLiteral("helpIntro"));
    introLabel->setWordWrap(true);
    outer->addWidget(introLabel);

    scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setFrameShape(QFrame::NoFrame);
    // A finger drags the list where it is longer than a small screen.
    scrollArea->verticalScrollBar()->setStyleSheet(QStringLiteral("QScrollBar:vertical{width:30px;}"));
    auto* body = new QWidget;
    auto* grid = new QGridLayout(body);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(40);
    grid->setVerticalSpacing(12);
    // Two columns, filled top to bottom: the first holds the set-up tools,
    // the second the picture, template and alarm tools.
    const QList<Entry>& list = entries();
    const int rows = (list.size() + 1) / 2;
    for (int i = 0; i < list.size(); ++i) {
        const Entry& entry = list[i];
        auto* icon = new QLabel(body);
        icon->setFixedSize(48, 48);
        icon->setAlignment(Qt::AlignCenter);
        // A choice box is white with its arrow, as in the panel; a button
        // shows its icon on the button's colour.
        const bool choice = QLatin1String(entry.objectName).startsWith(QLatin1String("pCombo"));
        icon->setStyleSheet(choice ? QStringLiteral("background-color:#FFFFFF;border-radius:4px;")
                                   : QStringLiteral("background-color:#4F5963;border-radius:4px;"));
        const int side = choice ? 22 : 40;
        icon->setPixmap(QPixmap(QString::fromLatin1(entry.icon))
                            .scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        auto* name = new QLabel(body);
        name->setObjectName(QStringLiteral("helpName"));
        name->setWordWrap(true);
        auto* text = new QLabel(body);
        text->setObjectName(QStringLiteral("helpText"));
        text->setWordWrap(true);
        auto* words = new QVBoxLayout;
        words->setSpacing(2);
        words->addWidget(name);
        words->addWidget(text);
        // Caption and text stay together when the row is taller for the
        // entry beside it.
        words->addStretch(1);
        auto* cell = new QHBoxLayout;
        cell->setSpacing(12);
        cell->addWidget(icon, 0, Qt::AlignTop);
        cell->addLayout(words, 1);
        grid->addLayout(cell, i % rows, i / rows);
        nameLabels << name;
        textLabels << text;
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(rows, 1);
    scrollArea->setWidget(body);
    outer->addWidget(scrollArea, 1);
    fillTexts();
}

void HelpWidget::fillTexts()
{
    introLabel->setText(textOf(kTextIntro));
    const QList<Entry>& list = entries();
    for (int i = 0; i < list.size(); ++i) {
        nameLabels[i]->setText(toolName(list[i]));
        textLabels[i]->setText(textOf(list[i].textId));
    }
}

void HelpWidget::showHelp()
{
    fillTexts();
    if (QWidget* host = parentWidget()) {
        setGeometry(0, 0, qMax(0, host->width() - kMenuColumnWidth), host->height());
    }
    scrollArea->verticalScrollBar()->setValue(0);
    show();
    raise();
}

void HelpWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    closeButton->setGeometry(width() - kTitleHeight, 0, kTitleHeight, kTitleHeight);
}

void HelpWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QStringLiteral("#353D45")));
    painter.drawRect(0, 0, width(), kTitleHeight);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("SimHei"), 15));
    painter.drawText(QRect(15, 0, width() - 2 * kTitleHeight, kTitleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     textOf(kTextHelpTitle));
}
