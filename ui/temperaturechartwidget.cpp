#include "temperaturechartwidget.h"

#include "colorbutton.h"
#include "datathread.h"
#include "datetimewidget.h"
#include "edit.h"
#include "exportnotice.h"
#include "kiticons.h"
#include "operatorprompt.h"
#include "paramstorage.h"
#include "recordsclock.h"
#include "recordsdialogparts.h"
#include "systemparam.h"
#include "temperaturechartdata.h"
#include "texttable.h"
#include "warnbox.h"

#include <QCheckBox>
#include <QDebug>
#include <QEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

TemperatureChartWidget* gpTemperatureChartWidget = nullptr;

namespace {

QLabel* caption(const QString& text, QWidget* parent, int height = 0)
{
    auto* label = new QLabel(text, parent);
    if (height > 0) {
        label->setFixedHeight(height);
    }
    return label;
}

} // namespace

TemperatureChartWidget::TemperatureChartWidget(QWidget* parent)
    : QDialog(parent)
{
    ensureKitIcons();
    TemperatureChartData* data = TemperatureChartData::instance();
    const QFont font(QStringLiteral("SimHei"), 15);

    setFixedSize(1850, 950);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint | Qt::Dialog);
    move(recordsDialogPosition(size()));
    setStyleSheet(QStringLiteral("QWidget{background-color: #1E1E1E;}QLabel{color: white;font-size: 20px;}"));

    QWidget* titleBar =
        makeRecordsTitleBar(this, 1850, QStringLiteral(":/TemperatureChart"), tr("温度波形图"), &closeButton);

    auto* filterBar = new QWidget(this);
    filterBar->setFixedSize(1850, 80);
    auto* filterLayout = new QHBoxLayout(filterBar);
    filterLayout->setContentsMargins(20, 0, 20, 0);
    cameraBox = makeRecordsFilterBox(filterBar, 120, 0);
    detectBox = makeRecordsFilterBox(filterBar, 120, 1);
    areaBox = makeRecordsFilterBox(filterBar, 120, 2);
    customPlot = new mCustomPlot(nullptr);
    timeRange = new FromTimeToTime(filterBar);
    confirmButton = new ColorButton(tr("确认"), filterBar);
    confirmButton->setFixedSize(120, 50);
    confirmButton->setFont(font);
    regularBox = new QCheckBox(filterBar);
    regularBox->setFixedHeight(40);
    regularBox->setStyleSheet(QStringLiteral(
        "QCheckBox::indicator::unchecked {width: 35px;height: 35px;image: url(:/Unchecked.png);}"
        "QCheckBox::indicator::checked {width: 35px;height: 35px;image: url(:/Checked.png);}"
        "QCheckBox::enabled::checked {color: #ffffff;}QCheckBox::enabled::unchecked {color: #999999;}"));
    minutesEdit = new Edit(Edit::IntegerInput | Edit::PlaceInParent, filterBar, 1);
    minutesEdit->setFixedHeight(40);
    minutesEdit->setAlignment(Qt::AlignCenter);
    minutesEdit->setValue(gpSystemParam ? gpSystemParam->tempRecordMin() : 30);
    auto* minutesValidator = new QIntValidator(kMinMinutes, kMaxMinutes, minutesEdit);
    minutesEdit->setValidator(minutesValidator);
    minutesEdit->setStyleSheet(QStringLiteral("QLineEdit{   background:white;   font-size:30px;}"));
    exportButton = new ColorButton(textOf(326), filterBar);
    exportButton->setFixedSize(200, 50);

    filterLayout->addWidget(caption(tr("相机号"), filterBar));
    filterLayout->addWidget(cameraBox);
    filterLayout->addSpacing(10);
    filterLayout->addWidget(caption(tr("检测号"), filterBar));
    filterLayout->addWidget(detectBox);
    filterLayout->addSpacing(10);
    filterLayout->addWidget(caption(tr("区域号"), filterBar));
    filterLayout->addWidget(areaBox);
    filterLayout->addSpacing(10);
    filterLayout->addWidget(caption(tr("日期时间"), filterBar));
    filterLayout->addWidget(timeRange);
    filterLayout->addSpacing(10);
    filterLayout->addWidget(confirmButton);
    filterLayout->addStretch();
    filterLayout->addWidget(caption(tr("定时记录"), filterBar, 40));
    filterLayout->addWidget(regularBox);
    filterLayout->addWidget(minutesEdit);
    filterLayout->addWidget(caption(tr("分钟"), filterBar, 40));
    filterLayout->addWidget(exportButton);
    filterLayout->addSpacing(10);

    auto* plotLayout = new QHBoxLayout;
    plotLayout->setSpacing(0);
    plotLayout->addWidget(customPlot);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 20);
    layout->addWidget(titleBar);
    layout->addWidget(filterBar);
    layout->addLayout(plotLayout);

    loadingBox = new tipbox(1, nullptr, 600, 420);
    loadingBox->setMessage(textOf(RecordsText::Loading));
    loadingBox->hide();

    for (ComboBox* box : {cameraBox, detectBox, areaBox}) {
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &TemperatureChartWidget::comboxChange);
    }
    data->ensureQueryThread();
    connect(data->queryThread, SIGNAL(readTempFinished()), this, SLOT(finishSearch()), Qt::QueuedConnection);
    // The end of an export is announced by the records' one notice, which
    // also serves exports started from the statistics dialog: connecting
    // finishExport as well would announce it twice.
    ExportNotice::watch(data);
    connect(minutesEdit, &Edit::focusOut, this, &TemperatureChartWidget::setRegularTime);
    connect(confirmButton, &QPushButton::clicked, this, &TemperatureChartWidget::confirmQuery);
    connect(exportButton, &QPushButton::clicked, this, &TemperatureChartWidget::exportData);
    connect(closeButton, &QPushButton::clicked, this, &TemperatureChartWidget::closeButtonClicked);
}

ResultQuery TemperatureChartWidget::boxQuery() const
{
    return recordsBoxQuery(cameraBox, detectBox, areaBox, timeRange);
}

void TemperatureChartWidget::showEvent(QShowEvent* e)
{
    const QDateTime now = recordsNow();
    timeRange->setFromDateTime(now.addDays(-1));
    timeRange->setToDateTime(now);
    QDialog::showEvent(e);
}

void TemperatureChartWidget::showRealTime()
{
    m_waitingForResult = false;
    customPlot->setRealTimeButton(QStringLiteral("实时"), true);
    customPlot->resetView();
    customPlot->clearGraphs();
    customPlot->restoreView();
    customPlot->drawAllSeries();
    customPlot->updateLegend();
    customPlot->restoreView();
    customPlot->startRefresh();
}

void TemperatureChartWidget::comboxChange(int)
{
    if (TemperatureChartData::instance()->seriesMode == 2) {
        return;
    }
    PlotFilter filter;
    filter.camera = cameraBox->currentIndex() - 1;
    filter.detect = detectBox->currentIndex() - 1;
    filter.area = areaBox->currentIndex() - 1;
    customPlot->setFilter(filter);
    customPlot->applyFilter();
}

void TemperatureChartWidget::confirmQuery()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    const ResultQuery q = boxQuery();
    if (!q.from.isValid() || !q.to.isValid()) {
        warnOperator(textOf(RecordsText::NoTimeRange));
        return;
    }
    // One read at a time: a second one would meet the first in the service.
    if (data->queryRunning()) {
        askOperator(textOf(RecordsText::Loading), 1);
        return;
    }
    PlotFilter filter;
    filter.camera = q.camera;
    filter.detect = q.detect;
    filter.area = q.area;
    filter.from = q.from;
    filter.to = q.to;

    loadingBox->show();
    customPlot->stopRefresh();
    data->seriesMode = 2;
    customPlot->setRealTimeButton(QStringLiteral("暂停"), false);
    data->setQuery(q);
    m_waitingForResult = data->startQuery(TemperatureChartData::TemperaturePart);
    customPlot->clearGraphs();
    customPlot->setFilter(filter);
    if (!m_waitingForResult) {
        loadingBox->close();
    }
}

void TemperatureChartWidget::finishSearch()
{
    qInfo() << "finishSearch";
    qInfo() << "main_thread" << QThread::currentThread();
    // Reopened, or back in live or paused mode since: the plot shows
    // something else now.
    if (!m_waitingForResult || TemperatureChartData::instance()->seriesMode != 2) {
        return;
    }
    m_waitingForResult = false;
    customPlot->drawAllSeries();
    customPlot->restoreView();
    customPlot->updateLegend();
    loadingBox->close();
}

void TemperatureChartWidget::exportData()
{
    const QString folder = confirmedExportFolder(this);
    if (folder.isEmpty()) {
        return;
    }
    TemperatureChartData* data = TemperatureChartData::instance();
    data->setQuery(boxQuery());
    data->exportData(regularBox->isChecked() ? 2 : 1, folder);
}

void TemperatureChartWidget::finishExport()
{
    ExportNotice::showFinished();
}

void TemperatureChartWidget::setRegularTime()
{
    const int saved = gpSystemParam ? gpSystemParam->tempRecordMin() : 30;
    bool ok = false;
    const int minutes = minutesEdit->text().toInt(&ok);
    if (!ok || minutes < kMinMinutes || minutes > kMaxMinutes) {
        minutesEdit->setValue(saved);
        return;
    }
    if (!gpSystemParam) {
        return;
    }
    gpSystemParam->tempRecordMin() = minutes;
    if (!saveSysParam(gpSystemParam)) {
        qWarning() << "set regularTime: the parameters could not be saved";
    }
    TemperatureChartData::instance()->setRegularRecordingInterval(minutes);
    qInfo() << "set regularTime";
}

void TemperatureChartWidget::closeButtonClicked()
{
    for (ComboBox* box : {cameraBox, detectBox, areaBox}) {
        box->setCurrentIndex(0);
    }
    loadingBox->close();
    customPlot->stopRefresh();
    QDialog::reject();
    closeRecordsDatePicker(timeRange);
}

void TemperatureChartWidget::reject()
{
    closeButtonClicked();
}

bool TemperatureChartWidget::event(QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        recordsDialogPressed(timeRange);
    }
    return QDialog::event(e);
}
