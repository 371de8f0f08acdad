#include "inputoutputparamwidget.h"

#include "colorbutton.h"
#include "edit.h"
#include "systemparam.h"
#include "texttable.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const int kBoxSlots[6] = {146, 144, 145, 192, 147, 148};
const int kComboSlots[7] = {153, 173, 108, 109, 110, 111, 112};
const int kCheckSlots[13] = {128, 130, 151, 152, 156, 154, 155, 170, 164, 157, 158, 159, 160};
const int kCheckTexts[13] = {179, 178, 192, 190, 202, 193, 513, 265, 195, 515, 562, -1, -2};

int checkIndex(int slot)
{
    for (int i = 0; i < 13; ++i) {
        if (kCheckSlots[i] == slot) {
            return i;
        }
    }
    // Every caller passes a slot of the table above.
    Q_UNREACHABLE();
}

QWidget* captioned(const QString& caption, QWidget* control, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(caption, row);
    label->setStyleSheet(QStringLiteral("color: white"));
    // A caption longer than its column (English, Japanese) yields its width
    // to the combo box and is drawn smaller, instead of pushing the box past
    // the column.
    label->setMinimumWidth(60);
    layout->addWidget(label);
    layout->addWidget(control);
    layout->addStretch();
    return row;
}

} // namespace

InputOutputParamWidget::InputOutputParamWidget(QWidget* owner)
    : TabParamWidget(owner)
{
    const QString unit = textOf(540);
    boxes[0] = new EditBox(0, 10000, this, textOf(336), unit);
    boxes[1] = new EditBox(0, 1000, this, textOf(168), unit, 2, 10);
    boxes[2] = new EditBox(0, 1000, this, textOf(169), unit, 2, 10);
    boxes[3] = new EditBox(0, 100, this, textOf(166), unit, 2, 10);
    boxes[4] = new EditBox(0, 100, this, textOf(524), unit, 2, 10);
    boxes[5] = new EditBox(0, 100, this, QStringLiteral("报警时长"), unit, 2, 10);

    const QStringList inputUses{textOf(455), textOf(404), textOf(405), textOf(406)};
    const QStringList outputUses{textOf(455), textOf(407), textOf(408), textOf(409)};
    const QStringList states{textOf(204), textOf(211)};
    const QString comboCaptions[7] = {textOf(203), textOf(334), textOf(273), textOf(274),
                                      textOf(275), textOf(281), textOf(496).arg(5)};
    QList<QWidget*> comboRows;
    for (int i = 0; i < 7; ++i) {
        combos[i] = new ComboBox(this);
        combos[i]->addItems(i == 0 ? inputUses : i == 1 ? outputUses : states);
        combos[i]->setFixedSize(150, 50);
        comboRows << captioned(comboCaptions[i], combos[i], this);
    }
    QList<QWidget*> checkWidgets;
    for (int i = 0; i < 13; ++i) {
        const QString caption = kCheckTexts[i] == -1 ? QStringLiteral("检测信号分离")
            : kCheckTexts[i] == -2                   ? QStringLiteral("温度检测报警不停机")
                                                     : textOf(kCheckTexts[i]);
        checks[i] = new CheckBox(this, caption);
        checkWidgets << checks[i];
    }
    machineType = new ComboBox(this);
    machineType->addItems({QStringLiteral("  标准"), QStringLiteral(" 双色机"), QStringLiteral(" 转盘机")});
    machineType->setFixedSize(150, 50);
    mouldSide = new ComboBox(this);
    mouldSide->addItems({textOf(376), textOf(377), textOf(383)});
    mouldSide->setFixedSize(150, 50);
    port = new ComboBox(this);
    for (int i = 1; i <= 9; ++i) {
        port->addItem(QStringLiteral("  COM%1").arg(i));
    }
    port->setFixedSize(150, 50);
    connect(machineType, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &InputOutputParamWidget::onSysFunChanged);

    auto* page = new QVBoxLayout(this);
    auto grid = [&](const QList<QWidget*>& widgets, int columns) {
        auto* g = new QGridLayout;
        for (int i = 0; i < widgets.size(); ++i) {
            g->addWidget(widgets[i], i / columns, i % columns);
        }
        for (int c = 0; c < columns; ++c) {
            g->setColumnStretch(c, 1);
        }
        page->addLayout(g);
    };
    page->addWidget(sectionHeading(textOf(219), this));
    grid({boxes[0], boxes[1], boxes[2], boxes[3], boxes[4], boxes[5]}, 2);
    page->addWidget(sectionHeading(textOf(219), this));
    grid(comboRows, 4);
    page->addWidget(sectionHeading(QStringLiteral("参数开关"), this));
    grid(checkWidgets.mid(0, 11), 3);
    page->addWidget(sectionHeading(QStringLiteral("参数调整"), this));
    grid(checkWidgets.mid(11), 3);
    auto* function = new QHBoxLayout;
    auto* functionLabel = new QLabel(QStringLiteral("系统功能"), this);
    functionLabel->setStyleSheet(QStringLiteral("color: white"));
    function->addWidget(functionLabel);
    function->addWidget(machineType);
    function->addWidget(mouldSide);
    function->addSpacing(80);
    auto* portLabel = new QLabel(QStringLiteral("通讯端口"), this);
    portLabel->setStyleSheet(QStringLiteral("color: white"));
    function->addWidget(portLabel);
    function->addWidget(port);
    function->addStretch();
    page->addLayout(function);
    page->addStretch();
}

void InputOutputParamWidget::loadParams()
{
    const SystemParam& p = *gpSystemParamEdit;
    const int boxOrder[6] = {146, 192, 144, 145, 147, 148};
    for (int slot : boxOrder) {
        for (int i = 0; i < 6; ++i) {
            if (kBoxSlots[i] == slot) {
                boxes[i]->setValue(p[slot]);
            }
        }
    }
    for (int i = 0; i < 7; ++i) {
        combos[i]->setCurrentIndex(p[kComboSlots[i]]);
    }
    const int checkOrder[13] = {128, 130, 151, 152, 154, 155, 164, 170, 156, 157, 158, 159, 160};
    for (int slot : checkOrder) {
        checks[checkIndex(slot)]->setChecked(p[slot] != 0);
    }
    machineType->setCurrentIndex(p[190]);
    mouldSide->setCurrentIndex(p[191]);
    // The page may not be shown yet: decide on the side box's own flag.
    onSysFunChanged(machineType->currentIndex());
    if (p[190] == 0) {
        mouldSide->setVisible(false);
    }
    port->setCurrentIndex(p[181]);
}

void InputOutputParamWidget::storeParams()
{
    SystemParam& p = *gpSystemParamEdit;
    const int boxOrder[6] = {146, 192, 144, 145, 147, 148};
    for (int slot : boxOrder) {
        for (int i = 0; i < 6; ++i) {
            if (kBoxSlots[i] == slot) {
                p[slot] = boxes[i]->value();
            }
        }
    }
    for (int i = 0; i < 7; ++i) {
        p[kComboSlots[i]] = combos[i]->currentIndex();
    }
    // Outputs 6 to 10 have no box of their own: they rest as output 5 does.
    for (int slot = 113; slot <= 117; ++slot) {
        p[slot] = p[112];
    }
    const int checkOrder[13] = {130, 128, 151, 152, 154, 155, 164, 170, 156, 157, 158, 159, 160};
    for (int slot : checkOrder) {
        p[slot] = checks[checkIndex(slot)]->isChecked() ? 1 : 0;
    }
    p[190] = machineType->currentIndex();
    p[191] = mouldSide->currentIndex();
    p[181] = port->currentIndex();
}

void InputOutputParamWidget::onSysFunChanged(int index)
{
    mouldSide->setVisible(index == 1 || index == 2);
}
