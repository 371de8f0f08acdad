#pragma once

#include "operatorprompt.h"

#include <QList>
#include <QStringList>

// Answers the operator's warning and question boxes in tests: records every
// message and answers questions from a script (the last answer repeats; 1 when
// nothing is scripted). Password boxes get the scripted entries one by one,
// each put through the box's real check; with none left the box is cancelled.
// Installs itself on construction, restores on destruction.
class PromptAnswerer {
public:
    explicit PromptAnswerer(QList<int> answers = {});
    ~PromptAnswerer();

    PromptAnswerer(const PromptAnswerer&) = delete;
    PromptAnswerer& operator=(const PromptAnswerer&) = delete;

    QStringList warnings;
    QStringList questions;
    // Entries still to be typed into password boxes, and those typed so far.
    QStringList passwordEntries;
    QStringList typedPasswords;

private:
    QList<int> m_answers;
    WarnHandler m_previousWarn;
    AskHandler m_previousAsk;
    PasswordEntryHandler m_previousEntry;
};
