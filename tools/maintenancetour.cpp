// Screenshot tour of the service actions and the version library: every
// question, result and warning of the actions, the update's file chooser, the
// clock dialog, the version library with several columns and a second page,
// and its small box with no, one and two buttons.
// Usage: maintenancetour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "datetimewidget.h"
#include "globals.h"
#include "listingserver.h"
#include "maintenanceactions.h"
#include "texttable.h"
#include "touchfiledialog.h"
#include "toursupport.h"
#include "v_selectbox.h"
#include "versiondownloaddialog.h"
#include "warnbox.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>


namespace {

void tour(ListingServer& server, const QString& packages)
{
    // Questions (two buttons), results (one) and warnings of the actions.
    const QList<int> questions{324, 320, 323, 294, 402};
    const QList<int> results{147, 296, 279, MaintenanceActions::FactoryPackageReadyText};
    const QList<int> warnings{MaintenanceActions::ExportFailedText,         MaintenanceActions::UpdateNotAPackageText,
                              MaintenanceActions::UpdateCopyFailedText,     MaintenanceActions::FactoryPackageMissingText,
                              MaintenanceActions::FactoryPackageFailedText, MaintenanceActions::ClockFailedText,
                              MaintenanceActions::CalibrationFailedText,    MaintenanceActions::PasswordTooLongText,
                              278,                                          280};
    for (int id : questions) {
        tipbox box(2);
        box.setMessage(textOf(id));
        shoot(QStringLiteral("question_%1").arg(id), {&box});
    }
    {
        tipbox box(2);
        box.setMessage(textOf(551) + QLatin1Char('?'));
        shoot(QStringLiteral("question_551"), {&box});
    }
    for (int id : results) {
        tipbox box(1);
        box.setMessage(textOf(id));
        shoot(QStringLiteral("result_%1").arg(id), {&box});
    }
    for (int id : warnings) {
        Warnbox box;
        box.setMessage(textOf(id));
        shoot(QStringLiteral("warning_%1").arg(id), {&box});
    }
    {
        QFileDialog dialog(nullptr, QObject::tr("选择投影数据文件目录"), packages);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setViewMode(QFileDialog::List);
        dialog.resize(gScreenWidth - 50, gScreenHeight - 100);
        dialog.setNameFilter(QStringLiteral("*.[r,t]ar*"));
        dialog.setDirectory(packages);
        dialog.setFont(QFont(QStringLiteral("SimHei"), 20));
        fitFileDialogForTouch(&dialog);
        dialog.move(25, 50);
        shoot(QStringLiteral("update_file_chooser"), {&dialog});
    }
    {
        modifyTimeWidget clock;
        clock.move((gScreenWidth - clock.width()) / 2, (gScreenHeight - clock.height()) / 2);
        shoot(QStringLiteral("clock_dialog"), {&clock});
    }
    {
        VersionDownloadDialog dialog(nullptr, MaintenanceFolders(), server.url(QStringLiteral("/monitor/")));
        shoot(QStringLiteral("version_library"), {&dialog});
        dialog.nextButtons->button(0)->click();
        shoot(QStringLiteral("version_library_page2"), {&dialog});
        const int x = dialog.width() / 2 - 375;
        const int y = dialog.height() / 2 - 185;
        const QStringList messages{QStringLiteral("下载中..."), QStringLiteral("下载成功\n重启后自动更新"),
                                   textOf(705).arg(QStringLiteral("V17.4.0.18.tar.gz"))};
        for (int buttons = 0; buttons <= 2; ++buttons) {
            auto* box = new v_SelectBox(x, y, &dialog, buttons);
            box->setMessage(messages[buttons]);
            box->show();
            shoot(QStringLiteral("version_box_%1_buttons").arg(buttons), {&dialog});
            delete box;
        }
    }
}

int shootAll(const TourArguments& arguments)
{
    ListingServer server;
    QList<ListingServer::Entry> release;
    for (int i = 10; i <= 18; ++i) {
        release << ListingServer::Entry{QStringLiteral("V17.4.0.%1.tar.gz").arg(i), 1 << 20};
    }
    server.listing(QStringLiteral("/monitor/"), {{QStringLiteral("release/"), 0}, {QStringLiteral("test/"), 0},
                                                  {QStringLiteral("empty/"), 0}});
    server.listing(QStringLiteral("/monitor/release/"), release);
    server.listing(QStringLiteral("/monitor/test/"), {{QStringLiteral("V17.5.0.1.rar"), 1 << 20}});
    server.listing(QStringLiteral("/monitor/empty/"), {});
    QTemporaryDir packages;
    for (const char* name : {"V17.4.0.18.tar.gz", "V17.5.0.1.rar", "V17_x.tar.xz", "notes.txt"}) {
        QFile file(packages.filePath(QLatin1String(name)));
        file.open(QIODevice::WriteOnly);
    }

    forEachLanguage(arguments, [&] { tour(server, packages.path()); });
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
