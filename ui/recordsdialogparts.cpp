#include "recordsdialogparts.h"

#include "cameraregistry.h"
#include "colorbutton.h"
#include "datetimewidget.h"
#include "exportnotice.h"
#include "globals.h"
#include "operatorprompt.h"
#include "temperaturechartdata.h"
#include "systemparam.h"
#include "texttable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <algorithm>

namespace {

constexpr int kCameraItem = 586;
constexpr int kDetectItem = 591;
constexpr int kAreaItem = 592;
constexpr int kListedAreas = 10;

ComboBox* filterBox(QWidget* parent, int width, int textId, int count)
{
    auto* box = new ComboBox(parent);
    box->setFixedSize(width, 40);
    box->setItemHeight(40);
    box->setItemFont(QFont(QStringLiteral("SimHei"), 15));
    box->addItem(QObject::tr("全部"));
    for (int n = 1; n <= count; ++n) {
        box->addItem(textOf(textId).arg(n));
    }
    return box;
}

} // namespace

QWidget* makeRecordsTitleBar(QWidget* parent, int width, const QString& icon, const QString& title,
                             QPushButton** closeButton)
{
    auto* titleBar = new QWidget(parent);
    titleBar->setFixedSize(width, 40);
    titleBar->setStyleSheet(QStringLiteral("QWidget{background-color: #353D45;}"));
    auto* titleLayout = new QHBoxLayout(titleBar);
    titleLayout->setContentsMargins(20, 0, 0, 0);
    auto* iconLabel = new QLabel(titleBar);
    iconLabel->setFixedSize(20, 20);
    iconLabel->setScaledContents(true);
    iconLabel->setPixmap(QPixmap(icon));
    titleLayout->addWidget(iconLabel);
    titleLayout->addWidget(new QLabel(title, titleBar));
    titleLayout->addStretch();
    *closeButton = new QPushButton(titleBar);
    (*closeButton)->setStyleSheet(QStringLiteral(
        "QPushButton{width: 40px;height: 40px;background-color: red;border-image: url(:/Close.png);}"));
    titleLayout->addWidget(*closeButton);
    return titleBar;
}

ComboBox* makeRecordsFilterBox(QWidget* parent, int width, int kind)
{
    switch (kind) {
    case 0:
        return filterBox(parent, width, kCameraItem, gCameraCount);
    case 1:
        return filterBox(parent, width, kDetectItem, gDetectCount);
    default:
        return filterBox(parent, width, kAreaItem, kListedAreas);
    }
}

QPoint recordsDialogPosition(const QSize& size)
{
    return QPoint(std::max(0, (gScreenWidth - size.width()) / 2), std::max(0, (gScreenHeight - size.height()) / 2));
}

ResultQuery recordsBoxQuery(const ComboBox* camera, const ComboBox* detect, const ComboBox* area,
                            const FromTimeToTime* range)
{
    ResultQuery q;
    q.camera = camera->currentIndex() - 1;
    q.detect = detect->currentIndex() - 1;
    q.area = area->currentIndex() - 1;
    q.flag = true;
    q.from = range->fromDateTime;
    q.to = range->toDateTime;
    return q;
}

QString confirmedExportFolder(QWidget* dialog)
{
    if (TemperatureChartData::instance()->exportBusy) {
        askOperator(textOf(RecordsText::ExportBusy), 1);
        return QString();
    }
    const QString folder = chooseExportFolder(dialog);
    if (folder.isEmpty()) {
        askOperator(textOf(RecordsText::NoExportFolder), 1);
        return QString();
    }
    if (askOperator(textOf(RecordsText::ConfirmExport), 2) != 1) {
        return QString();
    }
    return folder;
}

void closeRecordsDatePicker(FromTimeToTime* range)
{
    if (gpDateTimeWidget) {
        gpDateTimeWidget->close();
        gpDateTimeWidget = nullptr;
        range->pressCount = 0;
    }
    closeRollingTime();
}

void recordsDialogPressed(FromTimeToTime* range)
{
    ++range->pressCount;
    if (gpDateTimeWidget && range->pressCount % 2 == 1) {
        gpDateTimeWidget->close();
        gpDateTimeWidget = nullptr;
        range->pressCount = 0;
    }
    closeRollingTime();
}
