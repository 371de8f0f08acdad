#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;
class TemperatureChartData;

// Tells the operator how a temperature export ended, once per export,
// whichever records screen started it and whether or not the other screen
// has been built: one notice per records service, living as its child.
class ExportNotice : public QObject {
    Q_OBJECT
public:
    // Makes sure the service's export ends are announced; cheap when they are.
    static void watch(TemperatureChartData* data);

    // The boxes are shown without blocking the screen behind them and free
    // themselves once closed.
    static void showFinished();
    static void showFailed(const QString& reason);

private:
    explicit ExportNotice(TemperatureChartData* data);
};

// The folder an export goes to, asked of the operator. Tests replace the
// asking; an empty function restores the platform's folder dialog. Returns
// the previous chooser.
using ExportFolderChooser = std::function<QString(QWidget* parent)>;
QString chooseExportFolder(QWidget* parent);
ExportFolderChooser setExportFolderChooser(ExportFolderChooser chooser);

// The texts of the records screens' boxes.
namespace RecordsText {
constexpr int NoTimeRange = 650;
constexpr int Loading = 651;
constexpr int NoExportFolder = 652;
constexpr int ConfirmExport = 653;
constexpr int ExportBusy = 654;
constexpr int ExportFinished = 655;
constexpr int ExportFailed = 656;
} // namespace RecordsText
