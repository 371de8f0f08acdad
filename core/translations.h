#pragma once

#include <QLocale>
#include <QString>

// Captions passed through Qt's translation call are written in Simplified
// Chinese; the other three languages come from the translation files compiled
// into the program. Qt's own dialogs (file chooser, calendar, message box
// buttons) follow the same language through Qt's translations and the default
// locale.

// The locale of a language number (0 Simplified Chinese, 1 English,
// 2 Traditional Chinese, 3 Japanese); Simplified Chinese for any other number.
QLocale localeOfLanguage(int language);

// Installs the translators of language into the application, in place of
// those an earlier call installed, and makes its locale the default one.
// The program calls it once, when the saved language is known; it returns
// false when the program's own translation of a language other than
// Simplified Chinese could not be loaded (the captions then stay Chinese).
bool installTranslations(int language);

// The compiled-in translation file of the program's captions for language
// (empty for Simplified Chinese, whose captions are the source texts).
QString captionTranslationFile(int language);

// text with a word joiner (U+2060, not drawn) between neighbouring katakana,
// so that wrapping never breaks a katakana word (プ/ログラム): Qt's line
// breaker allows a break between any two kana.
QString keepKatakanaWordsWhole(const QString& text);
