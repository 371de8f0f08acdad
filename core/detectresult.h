#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// What one camera found in one detect of one moulding cycle. The cycle and the
// detector each take a copy of TemperatureChartData::detectResult, fill in
// their part and store it back; the records service then writes it as one
// res_report row.
struct DetectResult {
    int idx_camera = 0;
    int idx_detect = 0;
    // Same for every camera and detect of one cycle, re-checks included.
    QDateTime roundstart;
    // When this camera's detect was inspected.
    QDateTime detectstart;
    // 1 when the camera passed the detect, 0 on NG.
    int result = 0;
    // One list per listed area, in area order; the first number is the
    // area's detection function (9 = temperature area), an empty list for
    // functions that report no detail.
    QList<QList<int>> roi_detail;
    // 1 OK or 0 NG per listed area, in the order of roi_detail.
    QList<int> roi_result;
    // Text of the description column: "Regular recording" or empty.
    QString description;
};
