#pragma once

#include <QString>

// Four entries per text: 0 Simplified Chinese, 1 English, 2 Traditional Chinese, 3 Japanese.
// Text n is shown as entry 4 × n + gLanguage; some sites compute the entry
// themselves, so the layout of four consecutive entries per text is fixed.
constexpr int TextTableSize = 8192;
constexpr int TextCount = 707;    // text numbers 0 to 706
constexpr int LanguageCount = 4;
extern QString gTextTable[TextTableSize];
extern int gLanguage;

// Fills gTextTable from the compiled-in text data. Called once at start-up,
// before any window is shown.
void initTextTable();

// Entry of text textId in the current language; empty for a number outside
// the table.
QString textOf(int textId);
