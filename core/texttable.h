#pragma once

#include <QString>

// Four entries per text: 0 Simplified Chinese, 1 English, 2 Traditional Chinese, 3 Japanese.
constexpr int TextTableSize = 8192;
extern QString gTextTable[TextTableSize];
extern int gLanguage;

// Fills gTextTable from the compiled-in text data. Called once at start-up,
// before any window is shown.
void initTextTable();
