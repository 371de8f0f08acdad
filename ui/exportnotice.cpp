#include "exportnotice.h"

#include "temperaturechartdata.h"
#include "texttable.h"
#include "warnbox.h"

#include <QDebug>
#include <QFileDialog>

namespace {

const char* const kNoticeName = "exportNotice";

ExportFolderChooser& folderChooser()
{
    static ExportFolderChooser chooser;
    return chooser;
}

void showBox(int textId)
{
    auto* box = new tipbox(1, nullptr, 600, 420);
    box->setMessage(textOf(textId));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

} // namespace

ExportNotice::ExportNotice(TemperatureChartData* data)
    : QObject(data)
{
    setObjectName(QLatin1String(kNoticeName));
    connect(data, &TemperatureChartData::exportFinish, this, [] { showFinished(); });
    connect(data, &TemperatureChartData::exportFailed, this, [](const QString& reason) { showFailed(reason); });
}

void ExportNotice::watch(TemperatureChartData* data)
{
    if (data && !data->findChild<ExportNotice*>(QLatin1String(kNoticeName), Qt::FindDirectChildrenOnly)) {
        new ExportNotice(data);
    }
}

void ExportNotice::showFinished()
{
    showBox(RecordsText::ExportFinished);
}

void ExportNotice::showFailed(const QString& reason)
{
    qWarning() << "temperature export failed:" << reason;
    showBox(RecordsText::ExportFailed);
}

QString chooseExportFolder(QWidget* parent)
{
    if (folderChooser()) {
        return folderChooser()(parent);
    }
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("choose directory"), QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

ExportFolderChooser setExportFolderChooser(ExportFolderChooser chooser)
{
    ExportFolderChooser previous = std::move(folderChooser());
    folderChooser() = std::move(chooser);
    return previous;
}
