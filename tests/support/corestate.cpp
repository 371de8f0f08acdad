#include "statekeeper.h"

#include "globals.h"
#include "logmanager.h"
#include "mainwindowhooks.h"
#include "mapplication.h"
#include "operatorprompt.h"
#include "systemclock.h"
#include "systemparam.h"
#include "taskmanager.h"
#include "texttable.h"

#include <QSqlDatabase>

namespace {

// What it takes to open a connection again that a test removed.
struct Connection {
    QString name;
    QString driver;
    QString database;
    QString options;
    bool open = false;
};

void dropConnection(const QString& name)
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

void keepCoreState(StateKeeper& keeper)
{
    // SQL connections first, so they are put back last: every object that
    // held one has been put back by then.
    QList<Connection> connections;
    for (const QString& name : QSqlDatabase::connectionNames()) {
        const QSqlDatabase db = QSqlDatabase::database(name, false);
        connections.append({name, db.driverName(), db.databaseName(), db.connectOptions(), db.isOpen()});
    }
    keeper.onRestore([connections] {
        QStringList known;
        for (const Connection& c : connections) {
            known.append(c.name);
        }
        for (const QString& name : QSqlDatabase::connectionNames()) {
            if (!known.contains(name)) {
                dropConnection(name);
            }
        }
        for (const Connection& c : connections) {
            if (!QSqlDatabase::contains(c.name)) {
                QSqlDatabase db = QSqlDatabase::addDatabase(c.driver, c.name);
                db.setDatabaseName(c.database);
                db.setConnectOptions(c.options);
                if (c.open) {
                    db.open();
                }
            }
        }
    });

    // Handlers and the clock: each setter hands back what was installed.
    QtMessageHandler messages = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(messages);
    keeper.onRestore([messages] { qInstallMessageHandler(messages); });
    WarnHandler warn = setWarnOperatorHandler({});
    setWarnOperatorHandler(warn);
    AskHandler ask = setAskOperatorHandler({});
    setAskOperatorHandler(ask);
    keeper.onRestore([warn, ask] {
        setWarnOperatorHandler(warn);
        setAskOperatorHandler(ask);
    });
    WallClock wall = setWallClock({});
    setWallClock(wall);
    MonotonicClock monotonic = setMonotonicClock({});
    setMonotonicClock(monotonic);
    keeper.onRestore([wall, monotonic] {
        setWallClock(wall);
        setMonotonicClock(monotonic);
    });
    MainWindowHooks* hooks = mainWindowHooks();
    keeper.onRestore([hooks] { setMainWindowHooks(hooks); });

    keeper.keep(gpSystemParam);
    keeper.keep(gpSystemParamEdit);
    keeper.keep(gDetectCount);
    keeper.keep(gStatisticsEnabled);
    keeper.keep(gTemplateCount);
    keeper.keep(gMaxNgImages);
    keeper.keep(gMaxOkImages);
    keeper.keep(gComPort);
    keeper.keep(gColorToGray);
    keeper.keep(gLensOptimize);
    keeper.keep(gColorMode);
    keeper.keep(cameraSerials);
    keeper.keep(gNameTxtLines);

    keeper.keep(gTextTable);
    keeper.keep(gLanguage);

    // The mutex and picture tables, the logging and the repaint task are made
    // once and live as long as the process: putting back a null would only
    // lose them.
    keeper.keep(gInputNames);
    keeper.keep(gOutputNames);
    keeper.keep(gTemplateTimeText);

    keeper.keep(gpApplication);
    keeper.keep(gLastTouchLogMs);
}
