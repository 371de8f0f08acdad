#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// The text forms of one res_report row and the keys of today's maps. Readers
// of the day files and of the maps rely on these exact forms.

// Times in res_report and in the result keys: local time, milliseconds.
constexpr const char* kResultTimeFormat = "yyyy-MM-dd hh:mm:ss.zzz";

// A time in kResultTimeFormat. Never a null string, so an unset time still
// satisfies the NOT NULL columns instead of costing the row.
QString formatResultTime(const QDateTime& time);
// Reads a time written by formatResultTime; false for anything else.
bool parseResultTime(const QString& text, QDateTime* time);

// Compact JSON: [[1,120,80,500,3,0],[9,65,80,120,90],[]] and [1,1,0].
QString roiDetailToJson(const QList<QList<int>>& detail);
QString roiResultToJson(const QList<int>& result);
// Strict readers of the two forms (blanks between tokens are accepted, numbers
// must be 32-bit integers); false when the text is anything else.
bool parseRoiDetail(const QString& json, QList<QList<int>>* detail);
bool parseRoiResult(const QString& json, QList<int>* result);

// "C:%1_D:%2_F:%3": the temperature series of one listed area.
QString seriesKey(int camera, int detect, int area);
// "T:%1_C:%2_D:%3_F:%4" with a time text in kResultTimeFormat.
QString resultKey(const QString& timeText, int camera, int detect, int area);

// x of a temperature point: seconds since 1970-01-01 00:00 UTC, with the
// milliseconds as fraction (the unit of the plots' time axes).
double seriesSeconds(const QDateTime& time);
