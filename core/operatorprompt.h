#pragma once

#include <QString>

#include <functional>

// Tells the operator about a fault that needs them (a lost machine link and the
// like). Call it on the GUI thread. Until a handler is installed the text only
// goes to the log as a warning.
void warnOperator(const QString& text);

// Replaces how warnings reach the operator (a message box, a test's recorder);
// an empty function restores the default.
void setWarnOperatorHandler(std::function<void(const QString&)> handler);
