#pragma once

#include <QDateTime>
#include <QString>

// What the statistics and temperature screens ask for: a camera, a detect and
// a listed-area index (-1 = all of them) and a time range of roundstart. The
// same record carries the parts of a series or result key.
struct ResultQuery {
    int camera = -1;
    int detect = -1;
    int area = -1;
    bool flag = true; // kept for the record's layout; nothing reads it
    // A time text in the result time format when the record builds a result
    // key, else empty.
    QString text;
    QDateTime from;
    QDateTime to;
};
