#include "v_selectbox.h"

#include "globals.h"
#include "texttable.h"
#include "translations.h"

#include <QPainter>
#include <QPushButton>

namespace {
bool largeScreen()
{
    return gScreenWidth > 1024;
}

// The answers in the kit's look and at a size that reads beside the question:
// "是" as the kit's blue button, "否" as its grey one.
const QString kYesSheet = QStringLiteral(
    "QPushButton{background-color: #2175D3;color: #FFFFFF;border: none;border-radius: 4px;font-family: SimHei;"
    "font-size: %1px;}QPushButton:pressed{background-color: #1A6FC9;}");
const QString kNoSheet = QStringLiteral(
    "QPushButton{background-color: #CCCCCC;color: #262E34;border: 1px solid #999999;border-radius: 4px;"
    "font-family: SimHei;font-size: %1px;}QPushButton:pressed{background-color: #AAAAAA;}");
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
        firstButton->setStyleSheet(kYesSheet.arg(large ? 32 : 22));
        secondButton->setStyleSheet(kNoSheet.arg(large ? 32 : 22));
        connect(firstButton, &QPushButton::clicked, this, &QDialog::accept);
        connect(secondButton, &QPushButton::clicked, this, &QDialog::reject);
    } else if (buttons == 1) {
        firstButton = new QPushButton(textOf(121), this);
        if (large) {
            firstButton->setGeometry((width() - 220) / 2, height() - 150, 220, 100);
        } else {
            firstButton->setGeometry(140, 105, 140, 60);
        }
        firstButton->setStyleSheet(kYesSheet.arg(large ? 32 : 22));
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
    // The kit's box look: white text on the dark body inside a thin frame;
    // the question at the kit's size, wrapped, above the answers.
    QPainter painter(this);
    painter.fillRect(rect(), QColor(QStringLiteral("#262E34")));
    QFont font(QStringLiteral("SimHei"));
    font.setPixelSize(largeScreen() ? 32 : 18);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const int margin = largeScreen() ? 40 : 15;
    const int textHeight = buttonCount > 0 ? (firstButton ? firstButton->y() : height() / 2) - margin / 2 : height();
    const QRect area(margin, margin / 2, width() - 2 * margin, textHeight - margin / 2);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, keepKatakanaWordsWhole(message));
    painter.setPen(QPen(QColor(QStringLiteral("#4F5963")), 2));
    painter.drawRect(1, 1, width() - 2, height() - 2);
}
