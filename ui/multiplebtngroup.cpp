#include "multiplebtngroup.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

#include <cmath>

MultipleBtnGroup::MultipleBtnGroup(int count, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* group = new QButtonGroup(this);
    group->setObjectName(QStringLiteral("btnGroup"));
    for (int i = 0; i < count; ++i) {
        auto* button = new QPushButton(tr("相机%1").arg(i + 1), this);
        button->setObjectName(QStringLiteral("button%1").arg(i));
        button->setFixedSize(80, 40);
        group->addButton(button, i);
        layout->addWidget(button);
    }
    if (count > 1) {
        auto* all = new QPushButton(tr("所有相机"), this);
        all->setFixedSize(80, 40);
        // The button group reserves -1 for "pick an id yourself" and would
        // give this button -2: the row maps it back to -1 for its owner.
        group->addButton(all);
        layout->addWidget(all);
    }
    connect(group, &QButtonGroup::idClicked, this, [this](int id) {
        emit buttonClicked(id < 0 ? -1 : id);
    });
    setStyleSheet(QStringLiteral("QPushButton::disabled{background-color:#444444;}"));
}

void MultipleBtnGroup::markButton(int index)
{
    auto* button = findChild<QPushButton*>(QStringLiteral("button%1").arg(index));
    if (!button) {
        return;
    }
    const QSize size = button->size();
    button->setFixedSize(int(std::lround(size.width() * 1.25)), int(std::lround(size.height() * 1.25)));
    button->setEnabled(false);
}
