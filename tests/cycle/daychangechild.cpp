// One production day and the change to the next, in a working folder of its
// own, killed (SIGKILL, as a power loss or the task manager would) at a named
// step of the day change. The test then starts the logs again in the same
// folder and checks what a restart makes of it.
//
//   daychangechild <folder> record|statistics <step|none>
//
// The first day is 2024-03-09, the change runs at 2024-03-10 00:00:30.
#include "operationlog.h"
#include "recordingsystemcommands.h"
#include "resultstatistics.h"
#include "systemclock.h"
#include "cameraregistry.h"
#include "systemparam.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

QDateTime gNow(QDate(2024, 3, 9), QTime(10, 0, 0));

std::function<void(const char*)> killAt(const QByteArray& wanted)
{
    return [wanted](const char* step) {
        if (wanted == step) {
            std::raise(SIGKILL);
        }
    };
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4 || !QDir().mkpath(QString::fromLocal8Bit(argv[1])) || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: daychangechild <folder> record|statistics <step|none>\n");
        return 2;
    }
    // The pauses of the day change are the system's, not the order's: skipped.
    RecordingSystemCommands commands;
    initTextTable();
    setWallClock([] { return gNow; });
    const QByteArray which = argv[2];
    const QByteArray step = argv[3];

    if (which == "record") {
        OperationLog log;
        log.start();
        log.insertRecord(QStringLiteral("day one"), 2);
        gNow = QDateTime(QDate(2024, 3, 10), QTime(0, 0, 30));
        gOperationLogDayChangeProbe = killAt(step);
        return log.checkDate() ? 0 : 1;
    }
    if (which == "statistics") {
        gCameraCount = 1;
        gDetectCount = 1;
        createResStatisticsDb();
        ResultStatistics statistics;
        statistics.addResult(10, true, 0, 0);
        statistics.saveIfDirty();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("row"));
            db.setDatabaseName(QStringLiteral("ResStatistics.db"));
            db.open();
            QSqlQuery(db).exec(QStringLiteral(
                "INSERT INTO res_report (roundstart, detectstart, idx_camera, idx_detect, roi_detail, roi_result, "
                "result, description) VALUES('2024-03-09 10:00:00.000', '2024-03-09 10:00:00.100', 0, 0, '[[]]', "
                "'[1]', 1, '')"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("row"));
        gNow = QDateTime(QDate(2024, 3, 10), QTime(0, 0, 30));
        gResultStatisticsDayChangeProbe = killAt(step);
        statistics.checkDayChange();
        return 0;
    }
    return 2;
}
