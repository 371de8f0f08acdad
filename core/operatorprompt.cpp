#include "operatorprompt.h"

#include <QDebug>

namespace {

OperatorWarningHandler& currentHandler()
{
    static OperatorWarningHandler handler;
    return handler;
}

} // namespace

void warnOperator(const QString& text)
{
    // Logged in every case: a box the operator closes leaves no trace otherwise.
    qWarning().noquote() << "operator warning:" << text;
    const OperatorWarningHandler& handler = currentHandler();
    if (handler) {
        handler(text);
    }
}

OperatorWarningHandler setOperatorWarningHandler(OperatorWarningHandler handler)
{
    OperatorWarningHandler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}
