#include "operatorprompt.h"

#include <QDebug>

namespace {

WarnHandler& warnHandler()
{
    static WarnHandler handler;
    return handler;
}

AskHandler& askHandler()
{
    static AskHandler handler;
    return handler;
}

PasswordEntryHandler& entryHandler()
{
    static PasswordEntryHandler handler;
    return handler;
}

} // namespace

void warnOperator(const QString& message)
{
    qWarning() << "operator warning:" << message;
    if (warnHandler()) {
        warnHandler()(message);
    }
}

int askOperator(const QString& question, int buttons)
{
    if (askHandler()) {
        // What the operator was asked and answered belongs in the program's
        // log: an answer can stop the machine or clear the camera serials.
        qInfo().noquote() << "operator question:" << QString(question).replace(QLatin1Char('\n'), QLatin1Char(' '));
        const int answer = askHandler()(question, buttons);
        qInfo() << "operator answer:" << (answer == 1 ? "confirmed" : "not confirmed");
        return answer;
    }
    qWarning() << "operator question without a screen to ask it on, not confirmed:" << question;
    return 0;
}

WarnHandler setWarnOperatorHandler(WarnHandler handler)
{
    WarnHandler previous = std::move(warnHandler());
    warnHandler() = std::move(handler);
    return previous;
}

AskHandler setAskOperatorHandler(AskHandler handler)
{
    AskHandler previous = std::move(askHandler());
    askHandler() = std::move(handler);
    return previous;
}

PasswordEntryHandler setPasswordEntryHandler(PasswordEntryHandler handler)
{
    PasswordEntryHandler previous = std::move(entryHandler());
    entryHandler() = std::move(handler);
    return previous;
}

PasswordEntryHandler passwordEntryHandler()
{
    return entryHandler();
}
