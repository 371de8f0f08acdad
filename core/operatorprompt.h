#pragma once

#include <QString>

#include <functional>

// The one way the system's logic puts a message or a question in front of the
// operator. The main window installs handlers that show the warning box and
// the question box; until then (and in tests without handlers) a warning is
// logged and a question is answered "not confirmed". Tests install their own
// handlers to answer without a human.

// Shows a warning; returns when the operator has closed it.
void warnOperator(const QString& message);
// Asks a question; returns 1 when the operator confirmed, anything else when not.
// buttons: 1 = OK only, 2 = Cancel and OK.
int askOperator(const QString& question, int buttons = 2);

using WarnHandler = std::function<void(const QString& message)>;
using AskHandler = std::function<int(const QString& question, int buttons)>;

// Replace the handlers; an empty function restores the default. Each returns the previous one.
WarnHandler setWarnOperatorHandler(WarnHandler handler);
AskHandler setAskOperatorHandler(AskHandler handler);

// The password box asks this handler, when one is installed, for each entry in
// place of the operator; every entry goes through the box's real check. The
// handler writes the entry and returns true, or returns false to press Cancel.
using PasswordEntryHandler = std::function<bool(QString& entry)>;
PasswordEntryHandler setPasswordEntryHandler(PasswordEntryHandler handler);
// The installed handler; empty while the operator types.
PasswordEntryHandler passwordEntryHandler();
