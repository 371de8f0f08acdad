// Screenshot tour of the settings dialog: every page (the input/output page
// for each machine type, the record page with archived days), the apply
// question, each notice, the power-off questions and the clearing of today's
// operation log, for one screen size and the four languages.
// Usage: settingstour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "cameraregistry.h"
#include "colorbutton.h"
#include "globals.h"
#include "inputoutputparamwidget.h"
#include "operationlog.h"
#include "paramchangelog.h"
#include "paramstorage.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "texttable.h"
#include "toursupport.h"
#include "warnbox.h"

#include <QApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>


namespace {

void makeArchivedDay(const QString& day)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tour-archive"));
        db.setDatabaseName(OperationLog::archiveDir() + QLatin1Char('/') + day + QStringLiteral(".db"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("CREATE TABLE RECORD(time VARCHAR(32), level VARCHAR(32), remarks VARCHAR(1024))"));
            q.prepare(QStringLiteral("INSERT INTO RECORD VALUES(?, 'admin', ?)"));
            q.addBindValue(day + QStringLiteral(" 08:00:00"));
            q.addBindValue(textOf(255));
            q.exec();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tour-archive"));
}

void shootBox(const QString& name, const QString& message, int buttons, QWidget* over)
{
    QWidget* box = nullptr;
    if (buttons == 0) {
        auto* w = new Warnbox(over);
        w->setMessage(message);
        box = w;
    } else {
        auto* t = new tipbox(buttons, over);
        t->setMessage(message);
        box = t;
    }
    box->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    box->move((gScreenWidth - box->width()) / 2, (gScreenHeight - box->height()) / 2);
    shoot(name, {over, box});
    delete box;
}

// Today's log as the tour shows it first: a settings change and a power-off.
void fillTodaysLog(OperationLog& log, const SystemParam& live)
{
    log.clearRecord();
    SystemParam changed = live;
    changed[72] += 5;
    changed[1] += 5;
    log.insertRecord(paramChangeSentence(changed, live), 2);
    log.insertRecord(textOf(292), 2);
}

void tour(SystemParam* live, SystemParam* edit, OperationLog& log)
{
    fillTodaysLog(log, *live);
    *edit = *live;
    SystemParamDialog dialog;
    static const char* const pages[] = {"page0_system", "page1_camera", "page2_io", "page3_advanced", "page4_record"};
    for (int i = 0; i < dialog.tabWidget->count(); ++i) {
        dialog.tabWidget->setCurrentIndex(i);
        shoot(QString::fromLatin1(pages[i]), {&dialog});
    }
    dialog.tabWidget->setCurrentIndex(2);
    static const char* const types[] = {"page2_io_standard", "page2_io_twocolour", "page2_io_rotary"};
    for (int type = 0; type < 3; ++type) {
        dialog.ioWgt->machineType->setCurrentIndex(type);
        shoot(QString::fromLatin1(types[type]), {&dialog});
    }
    dialog.tabWidget->setCurrentIndex(0);
    shootBox(QStringLiteral("question_apply"), textOf(234), 2, &dialog);
    shootBox(QStringLiteral("question_resetcount"), textOf(kTextResetCountQuestion), 2, &dialog);
    shootBox(QStringLiteral("question_poweroff"), textOf(291), 2, &dialog);
    shootBox(QStringLiteral("question_restart"), textOf(293), 2, &dialog);
    shootBox(QStringLiteral("notice_276"), textOf(276), 0, &dialog);
    shootBox(QStringLiteral("notice_309"), textOf(309), 0, &dialog);
    shootBox(QStringLiteral("notice_277"), textOf(277), 0, &dialog);
    shootBox(QStringLiteral("warning_232"), textOf(232), 0, &dialog);
    shootBox(QStringLiteral("warning_savefailed"), textOf(kTextSaveFailed), 0, &dialog);

    // Clearing today's log: the question, then the page with the one row
    // that says who cleared it.
    dialog.tabWidget->setCurrentIndex(4);
    shootBox(QStringLiteral("question_clearrecord"), textOf(297), 2, &dialog);
    log.clearRecord();
    log.insertRecord(textOf(298), 2);
    dialog.tabWidget->setCurrentIndex(0);
    dialog.tabWidget->setCurrentIndex(4);
    shoot(QStringLiteral("page4_record_cleared"), {&dialog});
}

int shootAll(const TourArguments& arguments)
{
    // The dialog works on files of its working folder: a throw-away one.
    ScratchFolder work;
    static SystemParam live;
    static SystemParam edit;
    loadFactoryParams(&live, &edit);
    gCameraCount = 2;
    {
        OperationLog log;
        OperationLog::createRecordDB();
        log.open();
        QDir().mkpath(OperationLog::archiveDir());
        makeArchivedDay(QStringLiteral("2024-05-01"));
        makeArchivedDay(QStringLiteral("2024-05-03"));
        forEachLanguage(arguments, [&] { tour(&live, &edit, log); });
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
