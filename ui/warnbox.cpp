#include "warnbox.h"

#include "globals.h"
#include "kithost.h"
#include "kiticons.h"
#include "mainwindowhooks.h"
#include "platformhelpers.h"
#include "operatorprompt.h"
#include "translations.h"

#include <QApplication>
#include <QDebug>
#include <QFontMetrics>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <memory>

QPointer<Warnbox> gpWarnbox;
QPointer<tipbox> gpTipbox;

namespace {

const Qt::WindowFlags kBoxFlags = Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint;

void paintBoxFrame(QPainter& painter, const QWidget* box)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QStringLiteral("#353D45")));
    painter.drawRect(0, 0, box->width(), 60);
    painter.setBrush(QColor(QStringLiteral("#262E34")));
    painter.drawRect(0, 60, box->width(), box->height() - 60);
    // A light frame sets the box off from a screen of the same dark colour
    // (over the record charts a box without one looked like a hole).
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(QStringLiteral("#8A949E")), 2));
    painter.drawRect(QRectF(1, 1, box->width() - 2, box->height() - 2));
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("SimHei"), 15));
}

// The text as drawn: "\r\n" (the English messages' line break) is one break,
// and a katakana word is never broken inside (Qt breaks between any two kana;
// a word joiner between them forbids it, and is not drawn).
QString drawnMessage(const QString& message)
{
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return keepKatakanaWordsWhole(text);
}

constexpr int kBoxWidth = 600;
constexpr int kBoxHeight = 420;
constexpr int kTitleHeight = 60;
constexpr int kSideMargin = 40;
// The widest a box grows for a long message before it grows downwards.
constexpr int kWidestBox = 1000;
constexpr int kScreenMargin = 20;

int textHeight(const QString& text, int width)
{
    const QFontMetrics metrics(QFont(QStringLiteral("SimHei"), 15));
    const int bare = metrics.boundingRect(QRect(0, 0, width, 100000), Qt::AlignHCenter | Qt::TextWordWrap, text).height();
    // The measure leaves out the leading that drawing puts between the lines.
    const int lines = (bare + metrics.height() - 1) / std::max(1, metrics.height());
    return bare + lines * std::max(0, metrics.leading()) + 4;
}

// The size a box needs for its message: its own 600 x 420 when the message
// fits, else wider (up to 1000 px) and then taller, never past the screen.
// above is the height of the box over the message, below the height under it.
QSize boxSizeFor(const QString& text, int above, int below, QSize own)
{
    const int screenWidth = std::max(own.width(), gScreenWidth - 2 * kScreenMargin);
    const int screenHeight = std::max(own.height(), gScreenHeight - 2 * kScreenMargin);
    int width = own.width();
    if (textHeight(text, width - 2 * kSideMargin) <= own.height() - above - below) {
        return own;
    }
    width = std::max(own.width(), std::min(kWidestBox, screenWidth));
    const int height = above + textHeight(text, width - 2 * kSideMargin) + below;
    return QSize(width, std::min(std::max(own.height(), height), screenHeight));
}

void centreOnScreen(QWidget* box, QSize size)
{
    box->setGeometry(QRect(placeOnScreen(QPoint(gScreenWidth / 2 - size.width() / 2, gScreenHeight / 2 - size.height() / 2), size),
                           size));
}

bool onGuiThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread()
           && qobject_cast<QApplication*>(QCoreApplication::instance());
}

} // namespace

okbtn::okbtn(QWidget* parent)
    : QPushButton(QStringLiteral("确定"), parent)
{
    setStyleSheet(QStringLiteral("QPushButton{width: 135px;height: 60px;background-color: #2175D3;color: #FFFFFF;"
                                 "font: 24px;border-radius: 4px;opacity: 1;}"));
}

cancelbtn::cancelbtn(QWidget* parent)
    : QPushButton(QStringLiteral("取消"), parent)
{
    // The cancelling red on the light face, dark enough to read (4.6 : 1).
    setStyleSheet(QStringLiteral("QPushButton{width: 135px;height: 60px;background-color: #CCCCCC;color: #9E2A22;"
                                 "font: 24px;border-radius: 4px;opacity: 1;border: 1px solid #999999}"));
}

Warnbox::Warnbox(QWidget* parent)
    : QDialog(parent)
{
    ensureKitIcons();
    setGeometry(QRect(placeOnScreen(QPoint(gScreenWidth / 2 - 300, gScreenHeight / 2 - 210), QSize(600, 420)),
                      QSize(600, 420)));
    closeButton = new QPushButton(this);
    closeButton->setGeometry(540, 0, 60, 60);
    closeButton->setStyleSheet(QStringLiteral("QPushButton{background-color: red;border-image: url(:/Close.png);}"));
    connect(closeButton, &QPushButton::clicked, this, &Warnbox::acceptDialog);
    setWindowFlags(kBoxFlags);
}

// Under the warning sign: the sign's band and a margin above the message, a
// margin below it.
constexpr int kWarnTextTop = 150;
constexpr int kWarnTextBottomMargin = 30;

void Warnbox::setMessage(const QString& text)
{
    message = text;
    const QSize size = boxSizeFor(drawnMessage(text), kWarnTextTop, kWarnTextBottomMargin, QSize(kBoxWidth, kBoxHeight));
    if (size != this->size()) {
        centreOnScreen(this, size);
        closeButton->move(width() - 60, 0);
    }
}

void Warnbox::setStaysOnTop(bool onTop)
{
    if (onTop) {
        setWindowFlags(kBoxFlags);
    } else {
        setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    }
}

void Warnbox::acceptDialog()
{
    close();
}

void Warnbox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBoxFrame(painter, this);
    // The sign above the message, never under it: a long message wraps and
    // the box grows (setMessage), so no line is lost.
    painter.drawPixmap(QRect(width() / 2 - 30, kTitleHeight + 20, 60, 54), QPixmap(QStringLiteral(":/Warn.png")));
    painter.drawText(QRect(15, 15, 96, 33), Qt::AlignCenter, QStringLiteral("警告提示"));
    const QRect textArea(kSideMargin, kWarnTextTop, width() - 2 * kSideMargin, height() - kWarnTextTop - kWarnTextBottomMargin);
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, drawnMessage(message));
}

WarnBox::WarnBox(QWidget* parent)
    : QDialog(parent)
{
    ensureKitIcons();
    const QSize size(750, 370);
    setGeometry(QRect(placeOnScreen(QPoint(gScreenWidth / 2 - size.width() / 2, gScreenHeight / 2 - size.height() / 2),
                                    size),
                      size));
    confirmButton = new okbtn(this);
    confirmButton->setGeometry(size.width() / 2 - 67, size.height() - 90, 135, 60);
    connect(confirmButton, &QPushButton::clicked, this, &QDialog::accept);
    setWindowFlags(kBoxFlags);
}

void WarnBox::setMessage(const QString& text)
{
    message = text;
    update();
}

void WarnBox::showEvent(QShowEvent* event)
{
    if (MainWindowHooks* window = mainWindowHooks(); window && window->isBacklightOff()) {
        setBacklight(true);
    }
    QDialog::showEvent(event);
}

void WarnBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBoxFrame(painter, this);
    painter.drawPixmap(QRect(width() / 2 - 30, 80, 60, 54), QPixmap(QStringLiteral(":/Warn.png")));
    painter.drawText(QRect(15, 15, 96, 33), Qt::AlignCenter, QStringLiteral("警告提示"));
    painter.drawText(QRect(40, 140, width() - 80, height() - 140 - 100), Qt::AlignCenter | Qt::TextWordWrap, message);
}

tipbox::tipbox(int buttons, QWidget* parent, int width, int height)
    : QDialog(parent)
    , m_ownSize(width, height)
{
    setGeometry(QRect(placeOnScreen(QPoint(gScreenWidth / 2 - width / 2, gScreenHeight / 2 - height / 2),
                                    QSize(width, height)),
                      QSize(width, height)));
    const int y = (height + 240) / 2;
    if (buttons == 1) {
        auto* ok = new okbtn(this);
        ok->setGeometry(width / 2 - 67, y, 135, 60);
        connect(ok, &QPushButton::clicked, this, &tipbox::acceptDialog);
    } else if (buttons == 2) {
        auto* cancel = new cancelbtn(this);
        cancel->setGeometry((width - 30) / 2 - 135, y, 135, 60);
        connect(cancel, &QPushButton::clicked, this, &tipbox::rejectDialog);
        auto* ok = new okbtn(this);
        ok->setGeometry((width + 30) / 2, y, 135, 60);
        connect(ok, &QPushButton::clicked, this, &tipbox::acceptDialog);
    }
    setWindowFlags(kBoxFlags);
}

// The question's text lies between the title bar and the buttons.
constexpr int kTipTextTop = kTitleHeight + 20;
constexpr int kTipButtonsBand = 110;

void tipbox::setMessage(const QString& text)
{
    message = text;
    // Only the system's own 600 x 420 boxes grow; a box made to another size
    // (the full-screen start-up question) keeps it.
    if (m_ownSize != QSize(kBoxWidth, kBoxHeight)) {
        return;
    }
    const QSize size = boxSizeFor(drawnMessage(text), kTipTextTop, kTipButtonsBand, m_ownSize);
    if (size != this->size()) {
        const QPoint shift(size.width() - width(), size.height() - height());
        centreOnScreen(this, size);
        for (QPushButton* button : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
            button->move(button->x() + shift.x() / 2, button->y() + shift.y());
        }
    }
}

void tipbox::acceptDialog()
{
    QDialog::accept();
}

void tipbox::rejectDialog()
{
    QDialog::reject();
}

void tipbox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBoxFrame(painter, this);
    painter.drawText(QRect(15, 15, 48, 32), Qt::AlignCenter, QStringLiteral("提示"));
    // Between the title bar and the buttons, never under them.
    const int bottom = findChild<QPushButton*>() ? kTipButtonsBand : 20;
    painter.drawText(QRect(kSideMargin, kTipTextTop, width() - 2 * kSideMargin, height() - kTipTextTop - bottom),
                     Qt::AlignCenter | Qt::TextWordWrap, drawnMessage(message));
}

void installKitPromptHandlers()
{
    setAskOperatorHandler([](const QString& question, int buttons) {
        if (!onGuiThread()) {
            qWarning() << "operator question asked off the screen's thread, not confirmed:" << question;
            return 0;
        }
        std::unique_ptr<tipbox> box(new tipbox(buttons, nullptr, 600, 420));
        box->setMessage(question);
        return box->exec();
    });
    setWarnOperatorHandler([](const QString& message) {
        if (!onGuiThread()) {
            qWarning() << "operator warning raised off the screen's thread, not shown:" << message;
            return;
        }
        if (!gpWarnbox) {
            gpWarnbox = new Warnbox(nullptr);
            gpWarnbox->setStaysOnTop(false);
        }
        if (gpWarnbox->isVisible()) {
            // The open warning stays as it is; this one waits in a box of its own.
            std::unique_ptr<Warnbox> own(new Warnbox(nullptr));
            own->setMessage(message);
            own->exec();
            return;
        }
        gpWarnbox->setMessage(message);
        gpWarnbox->exec();
    });
}
