#include "mapplication.h"

#include "mainwindowhooks.h"
#include "platformhelpers.h"
#include "systemparam.h"

#include <QDateTime>
#include <QDebug>
#include <QFont>
#include <QMouseEvent>
#include <QTimer>

MApplication* gpApplication = nullptr;
qint64 gLastTouchLogMs = 0;

void installFontSubstitutes()
{
    // The screens name "SimHei"; the panel's Linux image carries a free CJK
    // font with all the glyphs of our four languages instead.
    QFont::insertSubstitutions(QStringLiteral("SimHei"),
                               {QStringLiteral("WenQuanYi Zen Hei"),
                                QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("Droid Sans Fallback")});
}

MApplication::MApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    installFontSubstitutes();
}

bool MApplication::notify(QObject* receiver, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && m_swallowRelease) {
        m_swallowRelease = false;
        return true;
    }
    if (event->type() != QEvent::MouseButtonPress) {
        return QApplication::notify(receiver, event);
    }

    if (QDateTime::currentMSecsSinceEpoch() - gLastTouchLogMs > 1000) {
        qInfo() << "MApplication::notify touch once!"
                << (receiver ? receiver->objectName() : QString())
                << static_cast<QMouseEvent*>(event);
        gLastTouchLogMs = QDateTime::currentMSecsSinceEpoch();
    }

    MainWindowHooks* window = mainWindowHooks();
    if (gpSystemParam) {
        if (!window) {
            return QApplication::notify(receiver, event);
        }
        const int logoutSec = gpSystemParam->logoutSec();
        if (window->logoutTimer() && logoutSec > 0) {
            window->logoutTimer()->start(logoutSec * 1000);
        }
        const int screenOffSec = gpSystemParam->screenOffSec();
        if (window->backlightTimer() && screenOffSec > 0) {
            window->backlightTimer()->start(screenOffSec * 1000);
        }
    }

    if (window && window->isBacklightOff()) {
        setBacklight(true);
        m_swallowRelease = true;
        return true;
    }
    return QApplication::notify(receiver, event);
}
