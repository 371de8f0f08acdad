#include "operatorprompt.h"

#include <QDebug>
#include <QMutex>

namespace {

QMutex gWarnHandlerMutex;
std::function<void(const QString&)> gWarnHandler;

} // namespace

void warnOperator(const QString& text)
{
    std::function<void(const QString&)> handler;
    {
        QMutexLocker lock(&gWarnHandlerMutex);
        handler = gWarnHandler;
    }
    if (handler) {
        handler(text);
    } else {
        qWarning().noquote() << "operator warning:" << text;
    }
}

void setWarnOperatorHandler(std::function<void(const QString&)> handler)
{
    QMutexLocker lock(&gWarnHandlerMutex);
    gWarnHandler = std::move(handler);
}
