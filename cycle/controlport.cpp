#include "controlport.h"

ControlPort* gpControlPort = nullptr;

ControlPort::ControlPort(QObject* parent)
    : QObject(parent)
{
}

void ControlPort::startIOThread()
{
}
