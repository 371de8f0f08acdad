#pragma once

// Shared by the records screens' tests: the records service at a fixed
// moment, cycles handed over the way the engine does, day files written with
// the sqlite3 tool, and the boxes found among the top-level windows.
#include "cameraregistry.h"
#include "detectresult.h"
#include "globals.h"
#include "modalanswer.h"
#include "processstate.h"
#include "resultrow.h"
#include "resultstatistics.h"
#include "systemparam.h"
#include "temperaturechartdata.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"
#include "warnbox.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QtTest>

inline QDateTime at(const QString& text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

// Output of the sqlite3 tool, or "ERROR: ..." when it failed.
inline QString sqlite(const QString& sql, const QString& file)
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), {file, sql});
    if (!process.waitForFinished(15000) || process.exitCode() != 0) {
        return QStringLiteral("ERROR: ") + QString::fromUtf8(process.readAllStandardError());
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

inline DetectResult cycleResult(int camera, int detect, const QDateTime& round, const QList<int>& verdicts,
                                const QList<QList<int>>& detail = {})
{
    DetectResult r;
    r.idx_camera = camera;
    r.idx_detect = detect;
    r.roundstart = round;
    r.detectstart = round.addMSecs(300);
    r.roi_result = verdicts;
    r.roi_detail = detail;
    while (r.roi_detail.size() < verdicts.size()) {
        r.roi_detail.append(QList<int>{1, 1, 0, 10, 0, 0});
    }
    r.result = verdicts.contains(0) ? 0 : 1;
    return r;
}

// A temperature area reading of one cycle: listed area `area` of the camera
// and detect reads `celsius`; the areas before it are plain OK areas.
inline DetectResult temperatureResult(int camera, int detect, int area, const QDateTime& at, int celsius)
{
    QList<QList<int>> detail;
    QList<int> verdicts;
    for (int n = 0; n <= area; ++n) {
        detail.append(n == area ? QList<int>{9, celsius, 0, 100, 95} : QList<int>{});
        verdicts.append(1);
    }
    DetectResult r = cycleResult(camera, detect, at, verdicts, detail);
    r.detectstart = at;
    return r;
}

struct RecordsScreens {
    ProcessState state;
    TestWorkDir dir;
    TestClock clock{at(QStringLiteral("2026-12-08 09:30:00.000"))};
    ScreenSize screen{1920, 1080};
    TemperatureChartData data;

    RecordsScreens()
    {
        initTextTable();
        gLanguage = 0;
        gpTemperatureChartData = &data;
        gCameraCount = 4;
        gDetectCount = 2;
    }

    // What the engine hands over of one detect (the today's maps only).
    void handOver(const DetectResult& r)
    {
        data.setDetectResult(r);
        data.updateLiveData();
    }

    // An archived day file with the given detects as rows.
    static bool writeDay(const QDate& day, const QList<DetectResult>& rows)
    {
        if (!QDir().mkpath(QStringLiteral("ResStatistics"))) {
            return false;
        }
        QString sql = QString::fromLatin1(kCreateResReportSql) + QLatin1Char(';');
        for (const DetectResult& r : rows) {
            sql += QStringLiteral("INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, roi_detail, "
                                  "roi_result, result, description) VALUES ('%1', '%2', %3, %4, '%5', '%6', %7, '');")
                       .arg(formatResultTime(r.roundstart), formatResultTime(r.detectstart))
                       .arg(r.idx_camera)
                       .arg(r.idx_detect)
                       .arg(roiDetailToJson(r.roi_detail), roiResultToJson(r.roi_result))
                       .arg(r.result);
        }
        const QString file = QStringLiteral("ResStatistics/%1.db").arg(day.toString(QStringLiteral("yyyy-MM-dd")));
        return !sqlite(sql, file).startsWith(QStringLiteral("ERROR"));
    }
};

// The visible question boxes with this message (the notices of an export's end).
inline int shownBoxes(const QString& message)
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<tipbox*>(w);
        n += box && box->isVisible() && box->message == message;
    }
    return n;
}

inline void closeShownBoxes()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<tipbox*>(w); box && box->isVisible() && box->testAttribute(Qt::WA_DeleteOnClose)) {
            box->close();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
