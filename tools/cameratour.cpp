// Screenshot tour of the camera settings screens: the camera order dialog for
// one, three and eight cameras, drawn where it stands over a settings dialog
// that fills the panel, and the parameter groups of the advanced page: the
// list, each question and refusal as the page's commands raise them, the page
// held while a copy runs, the list after a backup and after a delete; and the
// I/O naming dialog. One PNG each, for one screen size and the four languages.
// Usage: cameratour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "advanceparamwidget.h"
#include "cameraregistry.h"
#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "customionamewidget.h"
#include "edit.h"
#include "globals.h"
#include "operatorprompt.h"
#include "paragroupactions.h"
#include "paragroupstore.h"
#include "paramstorage.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "texttable.h"
#include "toursupport.h"
#include "warnbox.h"
#include "widgetchangecamera.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTabWidget>

#include <memory>

namespace {

// A question (buttons > 0) or warning box as the prompt handlers show it:
// without parent, in the middle of the screen, over the dialog.
void shootBox(const QString& name, const QString& message, int buttons, QWidget* over)
{
    std::unique_ptr<QDialog> box;
    if (buttons == 0) {
        auto* w = new Warnbox;
        w->setMessage(message);
        box.reset(w);
    } else {
        auto* t = new tipbox(buttons, nullptr, 600, 420);
        t->setMessage(message);
        box.reset(t);
    }
    box->move((gScreenWidth - box->width()) / 2, (gScreenHeight - box->height()) / 2);
    shoot(name, {over, box.get()});
}

// The group commands of the advanced page, run for real in a throw-away
// working folder of two cameras and two detects; every box they raise is
// pictured where it stands and answered from the script.
void groupTour()
{
    ScratchFolder work;
    writeFactoryParamGroup(QStringLiteral("paraGroup/default"));
    static SystemParam live;
    static SystemParam edit;
    // Loading the record sets the language it was saved in: the tour's stays.
    const int language = gLanguage;
    loadFactoryParams(&live, &edit);
    gLanguage = language;
    live.paraGroupIndex() = 1;
    edit = live;
    gCameraCount = 2;
    gDetectCount = 2;
    for (const char* folder : {"cammer11", "cammer12", "cammer21", "cammer22"}) {
        QDir().mkpath(QString::fromLatin1(folder));
        QFile sample(QString::fromLatin1(folder) + QStringLiteral("/template1.bmp"));
        sample.open(QIODevice::WriteOnly);
        sample.write("BM");
    }
    for (const char* group : {"B", "Mould 7", "模具12"}) {
        QDir().mkpath(QStringLiteral("paraGroup/") + QString::fromUtf8(group));
        QFile::copy(QStringLiteral("PARAM.db"), QStringLiteral("paraGroup/%1/PARAM.db").arg(QString::fromUtf8(group)));
    }
    {
        SystemParamDialog dialog;
        dialog.tabWidget->setCurrentIndex(3);
        AdvanceParamWidget* page = dialog.advanceWgt;
        shoot(QStringLiteral("groups_list"), {&dialog});

        // Each box of a step is pictured as groups_<step>_<n>. Questions are
        // answered by their text: only those of the backup and the delete are
        // confirmed (the restore's never: the tour must not restart itself).
        QString step;
        int boxes = 0;
        QStringList confirmed;
        auto next = [&] { return QStringLiteral("groups_%1_%2").arg(step).arg(++boxes); };
        setAskOperatorHandler([&](const QString& question, int buttons) {
            shootBox(next(), question, buttons, &dialog);
            return confirmed.contains(question) ? 1 : 0;
        });
        setWarnOperatorHandler([&](const QString& message) { shootBox(next(), message, 0, &dialog); });
        // The page while the copy of a backup runs on its worker.
        bool busyShot = false;
        QObject::connect(page->groupActions, &ParaGroupActions::busyChanged, &dialog, [&](bool busy) {
            if (busy && !busyShot) {
                busyShot = true;
                shoot(QStringLiteral("groups_busy"), {&dialog});
            }
        });
        auto press = [&](const QString& name, const char* button, const QStringList& yes) {
            step = name;
            boxes = 0;
            confirmed = yes;
            page->findChild<QPushButton*>(QString::fromLatin1(button))->click();
        };
        auto backup = [&](const QString& group, const QString& name, const QStringList& yes) {
            page->paraGroupName->setText(group);
            press(name, "pCButtonBackup", yes);
        };
        backup(QString(), QStringLiteral("refused_empty_name"), {});
        backup(QStringLiteral("x;rm -rf ."), QStringLiteral("refused_name"), {});
        backup(ParaGroupStore::factoryGroupName(), QStringLiteral("refused_default"), {});
        backup(QStringLiteral("A"), QStringLiteral("backup"), {textOf(283)});
        shoot(QStringLiteral("groups_after_backup"), {&dialog});
        // Once more under the same name: the overwrite question, declined.
        backup(QStringLiteral("A"), QStringLiteral("overwrite"), {textOf(283)});
        press(QStringLiteral("restore"), "pCButtonRestore", {});
        press(QStringLiteral("delete"), "pCButtonDelete",
              {textOf(ParaGroupActions::DeleteQuestionText).arg(page->paraGroupList->currentText())});
        shoot(QStringLiteral("groups_after_delete"), {&dialog});
        page->paraGroupList->setCurrentIndex(page->paraGroupList->findText(ParaGroupStore::factoryGroupName()));
        press(QStringLiteral("refused_delete_default"), "pCButtonDelete", {});
        // The failures, which a healthy folder does not raise.
        for (int id : {int(ParaGroupActions::BackupFailedText), int(ParaGroupActions::RestoreFailedText),
                       int(ParaGroupActions::DeleteFailedText)}) {
            shootBox(QStringLiteral("groups_failed_%1").arg(id), textOf(id), 0, &dialog);
        }
        setAskOperatorHandler({});
        setWarnOperatorHandler({});
    }
    for (const QString& name : QSqlDatabase::connectionNames()) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    gpSystemParam = nullptr;
    gpSystemParamEdit = nullptr;
}

void tour()
{
    // The settings dialog the order dialog opens over: the panel's size and
    // its common sheet, which the order dialog takes from its parent.
    QWidget settings;
    settings.setGeometry(0, 0, gScreenWidth, gScreenHeight);
    setCommonStyleSheet(&settings);
    for (int cameras : {1, 3, 8}) {
        gCameraCount = cameras;
        WidgetChangeCamera dialog(&settings);
        shoot(QStringLiteral("cameraorder_%1").arg(cameras), {&settings, &dialog});
    }
    groupTour();
    // The channel names are those the factory group's loading left in place.
    CustomIONameWidget names(&settings);
    names.loadNames();
    names.move((gScreenWidth - names.width()) / 2, (gScreenHeight - names.height()) / 2);
    shoot(QStringLiteral("ionames"), {&settings, &names});
}

int shootAll(const TourArguments& arguments)
{
    forEachLanguage(arguments, tour);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
