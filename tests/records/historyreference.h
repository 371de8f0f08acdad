#pragma once

// Day files for the query tests and benchmark, and the reference count: every
// entry of the range in a result map, then counted by countCycles, as the
// screens' counting was first laid out. The streamed count must agree with it.

#include "historyreader.h"
#include "resultrow.h"
#include "resultstatistics.h"
#include "temperaturechartdata.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

// One res_report row as the tests write it.
struct DayRow {
    QString roundstart;
    QString detectstart;
    int camera = 0;
    int detect = 0;
    QString detail = QStringLiteral("[]");
    QString verdicts = QStringLiteral("[]");
    int result = 1;
    QString description;
};

// Writes rows into a result file (made with res_report when needed).
inline bool writeDayRows(const QString& file, const QList<DayRow>& rows, bool withTable = true)
{
    QDir().mkpath(QFileInfo(file).path());
    const QString name = QStringLiteral("day-writer-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        ok = db.open() && db.transaction();
        QSqlQuery q(db);
        if (ok && !withTable) {
            ok = q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS other(a INT)"));
        }
        if (ok && withTable) {
            ok = q.exec(QString::fromLatin1(kCreateResReportSql))
                && q.prepare(QStringLiteral("INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, "
                                            "roi_detail, roi_result, result, description)values(?,?,?,?,?,?,?,?)"));
            for (int i = 0; ok && i < rows.size(); ++i) {
                const DayRow& r = rows.at(i);
                q.bindValue(0, r.roundstart);
                q.bindValue(1, r.detectstart);
                q.bindValue(2, r.camera);
                q.bindValue(3, r.detect);
                q.bindValue(4, r.detail);
                q.bindValue(5, r.verdicts);
                q.bindValue(6, r.result);
                q.bindValue(7, r.description);
                ok = q.exec();
            }
        }
        q.finish();
        ok = ok && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// Every entry of the range's rows (camera and detect filters applied by the
// select, bounds with their milliseconds) in a result map keyed by
// detectstart, camera, detect and area, day by day as the history pass goes.
inline ResultMap referenceHistoryResults(const ResultQuery& query, const QDate& today, qint64* skipped = nullptr)
{
    ResultMap results;
    const QString name = QStringLiteral("reference-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        for (const HistoryDay& day : historyDays(query.from, query.to, today)) {
            if (!QFileInfo::exists(day.file)) {
                continue;
            }
            db.setDatabaseName(day.file);
            if (!db.open()) {
                break;
            }
            QuerySql sql = resultQuerySql(query, day.from, day.to);
            sql.values << qint64(-1) << std::numeric_limits<qint64>::max();
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (q.prepare(sql.text)) {
                for (int i = 0; i < sql.values.size(); ++i) {
                    q.bindValue(i, sql.values.at(i));
                }
                if (q.exec()) {
                    QList<int> verdicts;
                    while (q.next()) {
                        QDateTime roundstart;
                        QDateTime detectstart;
                        const QString detectText = q.value(2).toString();
                        if (!parseResultTime(q.value(1).toString(), &roundstart)
                            || !parseResultTime(detectText, &detectstart)
                            || !parseRoiResult(q.value(6).toString(), &verdicts)) {
                            if (skipped) {
                                ++*skipped;
                            }
                            continue;
                        }
                        const int camera = q.value(3).toInt();
                        const int detect = q.value(4).toInt();
                        for (int n = 0; n < verdicts.size(); ++n) {
                            results.insert(resultKey(detectText, camera, detect, n),
                                           RoiResult{verdicts.at(n), detectstart, roundstart, camera, detect, n});
                        }
                    }
                }
            }
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return results;
}
