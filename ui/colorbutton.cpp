#include "colorbutton.h"

#include "captionfit.h"
#include "kiticons.h"

#include <QAbstractButton>
#include <QEvent>
#include <QListView>

ColorButton::ColorButton(QString text, QWidget* parent, int kind)
    : QPushButton(text, parent)
{
    setStyleSheet(QStringLiteral("QPushButton{background-color: %1;border-radius: 4px;opacity:1;font-size: 18px;"
                                 "color: white}QPushButton:pressed{background-color: rgba(38, 135, 242, 0.5);"
                                 "color: white;}")
                      .arg(kind == 1 ? QStringLiteral("#D04136") : QStringLiteral("#2175D3")));
    CaptionFit::watch(this);
}

ColorButton::ColorButton(QPixmap picture, QWidget* parent)
    : QPushButton(parent)
    , isImage(1)
    , pixmap(std::move(picture))
{
}

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent)
{
    installEventFilter(this);
    setFocusPolicy(Qt::NoFocus);
    listView = new QListView(this);
    setView(listView);
}

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this) {
        if (event->type() == QEvent::MouseButtonPress) {
            emit clicked();
        } else if (event->type() == QEvent::Wheel) {
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void ComboBox::setItemFont(QFont f)
{
    listView->setFont(f);
    setFont(f);
}

void ComboBox::setItemHeight(int px)
{
    ensureKitIcons();
    setStyleSheet(QStringLiteral("QComboBox{background-color:white;border-radius:4px;border:none;}"
                                 "QComboBox::drop-down{width:30px;height:%1;border-style:none;}"
                                 "QComboBox::down-arrow{width:15px;height:12px;image:url(:/down-arrow.png);}")
                      .arg(px)
                  + QStringLiteral("QComboBox QAbstractItemView::item{height:%1px;background-color: white;}").arg(px)
                  + QStringLiteral("QComboBox QAbstractItemView::item:hover{color: black;}")
                  + QStringLiteral("QComboBox QAbstractItemView::item:selected{color: black;}")
                  + QStringLiteral("QComboBox::tab-bar{border-width:0px;}"));
}

customButton::customButton(QWidget* parent)
    : QPushButton(parent)
{
    setCheckable(true);
    setStyleSheet(QStringLiteral(
        "QPushButton:checked{background-color: #2175D3;border-radius: 4px;opacity:1;font-size: 18px;color: white}"
        "QPushButton:!checked{background-color: #D04136;border-radius: 4px;opacity:1;font-size: 18px;color: white}"));
}

void setButtonAutoRepeat(QAbstractButton* b)
{
    b->setAutoRepeat(true);
    b->setAutoRepeatDelay(300);
    b->setAutoRepeatInterval(50);
}
