#include "v_selectbox.h"

#include "globals.h"
#include "texttable.h"

#include <QPainter>
#include <QPushButton>

namespace {
bool largeScreen()
{
    return gScreenWidth > 1024;
}
}  // namespace

v_SelectBox::v_SelectBox(int x, int y, QWidget* parent, int buttons)
    : QDialog(parent), boxX(x), boxY(y), buttonCount(buttons)
{
    // No title bar: the box is drawn inside the version library.
    setWindowFlags(Qt::CustomizeWindowHint);
    applyGeometry();
    const bool large = largeScreen();
    if (buttons == 2) {
        firstButton = new QPushButton(textOf(122), this);
        secondButton = new QPushButton(textOf(123), this);
        if (large) {
            firstButton->setGeometry(100, height() - 150, 220, 100);
            secondButton->setGeometry(width() - 320, height() - 150, 220, 100);
        } else {
            firstButton->setGeometry(30, 105, 140, 60);
            secondButton->setGeometry(240, 105, 140, 60);
        }
        connect(firstButton, &QPushButton::clicked, this, &QDialog::accept);
        connect(secondButton, &QPushButton::clicked, this, &QDialog::reject);
    } else if (buttons == 1) {
        firstButton = new QPushButton(textOf(121), this);
        if (large) {
            firstButton->setGeometry((width() - 220) / 2, height() - 150, 220, 100);
        } else {
            firstButton->setGeometry(140, 105, 140, 60);
        }
        connect(firstButton, &QPushButton::clicked, this, &QDialog::accept);
    }
}

void v_SelectBox::setMessage(const QString& text)
{
    message = text;
    update();
}

void v_SelectBox::applyGeometry()
{
    if (largeScreen()) {
        setGeometry(boxX, boxY, 750, 370);
    } else {
        setGeometry(boxX, boxY, 420, 180);
    }
}

void v_SelectBox::showEvent(QShowEvent* event)
{
    applyGeometry();
    QDialog::showEvent(event);
}

void v_SelectBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (gPixmapTable[0]) {
        painter.drawPixmap(rect(), *gPixmapTable[0]);
    } else {
        painter.fillRect(rect(), QColor(20, 40, 70));
    }
    QFont font(QStringLiteral("SimHei"));
    font.setPointSize(largeScreen() ? 40 : 20);
    painter.setFont(font);
    painter.setPen(Qt::red);
    const QRect area = buttonCount > 0 ? QRect(0, 0, width(), height() / 2) : rect();
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, message);
    painter.setPen(QPen(Qt::white, 5));
    painter.drawRect(0, 0, width() - 1, height() - 1);
}
