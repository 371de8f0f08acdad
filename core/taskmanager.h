#pragma once

#include <QObject>

class QTimer;

// The 100 ms repaint pass of the bottom bar's clock line and the visible
// camera tiles' title bars.
class TaskManager : public QObject {
    Q_OBJECT
public:
    static TaskManager* instance(QObject* parent = nullptr);

    void startLoop();

public slots:
    void SlotLoopShowTask();

private:
    explicit TaskManager(QObject* parent);

    QTimer* m_timer;
};

extern TaskManager* gpTaskManager;
