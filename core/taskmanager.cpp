#include "taskmanager.h"

#include "camerawgtbox.h"
#include "dottomdockwidget.h"
#include "vezirevoru.h"

#include <QTimer>

TaskManager* gpTaskManager = nullptr;

TaskManager* TaskManager::instance(QObject* parent)
{
    if (!gpTaskManager) {
        gpTaskManager = new TaskManager(parent);
    }
    return gpTaskManager;
}

TaskManager::TaskManager(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &TaskManager::SlotLoopShowTask, Qt::DirectConnection);
}

void TaskManager::startLoop()
{
    m_timer->start(100);
}

void TaskManager::SlotLoopShowTask()
{
    if (!gpVeZiRevoru) {
        return;
    }
    if (auto* line = gpVeZiRevoru->findChild<DottomDock_Describe_part1*>(
            QStringLiteral("DottomDock_Describe_part1"))) {
        line->update();
    }
    if (!gpVeZiRevoru->pCameraWgtBox) {
        return;
    }
    for (CameraWgt_DataWidget* tile : gpVeZiRevoru->pCameraWgtBox->tiles()) {
        if (!tile->isVisible()) {
            continue;
        }
        if (CameraWgt_DataWidget_Title* title = tile->currentTitle()) {
            title->updateTitle();
        }
    }
}
