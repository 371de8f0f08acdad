#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Answers the next modal run from the event loop: once a modal widget other
// than the one open now is up, calls act with it (which closes it by a click
// or a key). Gives up after timeoutMs so that a run that never comes fails
// the test instead of hanging it.
inline void onNextModal(std::function<void(QWidget*)> act, int timeoutMs = 5000)
{
    QPointer<QWidget> before = QApplication::activeModalWidget();
    auto* timer = new QTimer;
    // Real time, not ticks: a busy event loop must not stretch the watch
    // past the test that set it.
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    QObject::connect(timer, &QTimer::timeout, [timer, before, act, elapsed, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != before) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        } else if (elapsed->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(2);
}

// Sets the screen size the kit centres on for one test and puts it back.
class ScreenSize {
public:
    ScreenSize(int width, int height);
    ~ScreenSize();
    ScreenSize(const ScreenSize&) = delete;
    ScreenSize& operator=(const ScreenSize&) = delete;

private:
    int m_width;
    int m_height;
};
