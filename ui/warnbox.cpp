#include "warnbox.h"

#include "globals.h"
#include "kithost.h"
#include "kiticons.h"
#include "operatorprompt.h"

#include <QApplication>
#include <QDebug>
#include <QPainter>
#include <QThread>

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
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("SimHei"), 15));
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

void Warnbox::setMessage(const QString& text)
{
    message = text;
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
    painter.drawPixmap(QRect(width() / 2 - 30, height() / 2 - 67, 60, 54), QPixmap(QStringLiteral(":/Warn.png")));
    painter.drawText(QRect(15, 15, 96, 33), Qt::AlignCenter, QStringLiteral("警告提示"));
    painter.drawText(QRect(100, 190, 400, 150), Qt::AlignCenter | Qt::TextWordWrap, message);
}

tipbox::tipbox(int buttons, QWidget* parent, int width, int height)
    : QDialog(parent)
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

void tipbox::setMessage(const QString& text)
{
    message = text;
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
    painter.drawText(QRect((width() - 400) / 2, (height() - 300) / 2, 400, 300), Qt::AlignCenter | Qt::TextWordWrap,
                     message);
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
