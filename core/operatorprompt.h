#pragma once

#include <QString>

#include <functional>

// The one road by which non-interactive code puts a warning in front of the
// operator. The program installs a handler that shows the shared warning box
// modally; until then, and in tests that install nothing, the text only goes to
// the log. Tests install a recording handler so that nothing ever blocks.
using OperatorWarningHandler = std::function<void(const QString& text)>;

void warnOperator(const QString& text);

// Installs the handler and returns the one it replaces; an empty handler
// restores the logging default. GUI thread only.
OperatorWarningHandler setOperatorWarningHandler(OperatorWarningHandler handler);
