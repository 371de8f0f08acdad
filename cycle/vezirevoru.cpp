#include "vezirevoru.h"

#include "camerawgtbox.h"
#include "controlport.h"
#include "dottomdockwidget.h"
#include "systemparam.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

VeZiRevoru* gpVeZiRevoru = nullptr;

VeZiRevoru::VeZiRevoru(QWidget* parent)
    : QWidget(parent)
{
    gpVeZiRevoru = this;
    setObjectName(QStringLiteral("VeZiRevoru"));
    setStyleSheet(QStringLiteral("VeZiRevoru { background-color: #1E1E1E; }"));
    setAttribute(Qt::WA_StyledBackground, true);
    // The panel has no window manager to enlarge a full-screen window: take
    // the screen's size ourselves.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(screen->geometry());
    }

    logoutTimer = new QTimer(this);
    logoutTimer->setSingleShot(true);
    backlightTimer = new QTimer(this);
    backlightTimer->setSingleShot(true);

    if (!gpControlPort) {
        gpControlPort = new ControlPort(gComPort);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    pCameraWgtBox = new CameraWgtBox(this);
    layout->addWidget(pCameraWgtBox, 1);
    auto* statusLine = new DottomDock_Describe_part1(this);
    layout->addWidget(statusLine);

    m_runTimer = new QTimer(this);
    m_runTimer->setSingleShot(true);
    connect(m_runTimer, &QTimer::timeout, this, &VeZiRevoru::Run);
    m_runTimer->start(5);
}

void VeZiRevoru::Run()
{
    if (gpControlPort) {
        gpControlPort->commitOutputs();
        gpControlPort->feedWatchdog();
    }
    m_runTimer->start(100);
}
