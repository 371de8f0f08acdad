#include "taskmanager.h"

#include "mainwindowhooks.h"

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
    if (MainWindowHooks* window = mainWindowHooks()) {
        window->repaintStatus();
    }
}
