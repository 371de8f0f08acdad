#pragma once

#include <QObject>

// The machine I/O through the serial board. For now only the start of its
// worker thread exists.
class ControlPort : public QObject {
    Q_OBJECT
public:
    explicit ControlPort(QObject* parent = nullptr);

    void startIOThread();
};

extern ControlPort* gpControlPort;
