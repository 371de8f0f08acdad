#pragma once

#include "operatorprompt.h"

#include <QList>
#include <QStringList>

// Answers the operator's warning and question boxes in tests: records every
// message and answers questions from a script (the last answer repeats; 1 when
// nothing is scripted). Password boxes get the scripted entries one by one,
// each put through the box's real check; with none left the box is cancelled.
// Installs itself on construction, restores on destruction.
//
// Every text shown to the operator must be one of the text table's texts in
// the language in force when it is shown (its %1.. filled in or not): the
// operator may not read any other language. A text that is not fails the
// running test when the answerer goes; the text table must therefore be
// loaded (initTextTable) where a test raises a box.
class PromptAnswerer {
public:
    explicit PromptAnswerer(QList<int> answers = {});
    ~PromptAnswerer();

    PromptAnswerer(const PromptAnswerer&) = delete;
    PromptAnswerer& operator=(const PromptAnswerer&) = delete;

    QStringList warnings;
    QStringList questions;
    // The texts of both kinds that were not texts of the table, each with the
    // language it was shown in.
    QStringList foreignTexts;
    // Entries still to be typed into password boxes, and those typed so far.
    QStringList passwordEntries;
    QStringList typedPasswords;

private:
    void check(const QString& text);

    QList<int> m_answers;
    WarnHandler m_previousWarn;
    AskHandler m_previousAsk;
    PasswordEntryHandler m_previousEntry;
};

// True when text is entry 4 × n + language of the text table for some text n,
// or such an entry with its %1, %2, ... filled in, or followed by "?" (entries that hold little
// more than a placeholder do not count).
bool isTableText(const QString& text, int language);
