#include "statisticswidget.h"

#include "cameraregistry.h"
#include "colorbutton.h"
#include "datetimewidget.h"
#include "datathread.h"
#include "exportnotice.h"
#include "globals.h"
#include "histogram.h"
#include "kiticons.h"
#include "operatorprompt.h"
#include "recordsclock.h"
#include "recordsdialogparts.h"
#include "systemparam.h"
#include "temperaturechartdata.h"
#include "texttable.h"
#include "warnbox.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>

StatisticsWidget* gpStatisticsWidget = nullptr;

namespace {

constexpr int kTotalCaption = 587;
constexpr int kNgRateCaption = 588;
constexpr int kNgTotalCaption = 543;
constexpr int kCycleTotalCaption = 547;

QLabel* caption(const QString& text, QWidget* parent)
{
    return new QLabel(text, parent);
}

QLabel* valueLabel(const QString& text, QWidget* parent, const QString& style = QString())
{
    auto* label = new QLabel(text, parent);
    label->setFixedSize(120, 25);
    if (!style.isEmpty()) {
        label->setStyleSheet(style);
    }
    return label;
}

} // namespace

CameraStatisticsWidget::CameraStatisticsWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("CameraStatisticsWidget"));
    setFont(QFont(QStringLiteral("SimHei"), 10));
    TemperatureChartData* data = TemperatureChartData::instance();
    const QList<QList<int>> counts = data->hourlyCounts();
    histogram = new Histogram(this, data->axisLabels.value(0), data->axisLabels.value(1), counts.value(0),
                              counts.value(1));
    histogram->setFixedHeight(760);

    auto* column = new QVBoxLayout;
    column->setSpacing(20);
    auto* total = new QLabel(textOf(kTotalCaption), this);
    total->setFixedSize(150, 35);
    column->addWidget(total, 0, Qt::AlignHCenter);
    column->addWidget(valueLabel(textOf(kCycleTotalCaption), this), 0, Qt::AlignRight);
    totalCount = valueLabel(QString::number(data->cycleCount), this, QStringLiteral("color: #F2803F;"));
    column->addWidget(totalCount, 0, Qt::AlignRight);
    column->addWidget(valueLabel(textOf(kNgTotalCaption), this), 0, Qt::AlignRight);
    // The NG figures in a light red: pure red reads at 3.5 : 1 on the dark page.
    totalNGCount = valueLabel(QString::number(data->ngCycleCount), this, QStringLiteral("color:#FF6B6B;"));
    column->addWidget(totalNGCount, 0, Qt::AlignRight);
    column->addWidget(valueLabel(textOf(kNgRateCaption), this), 0, Qt::AlignRight);
    totalNGRate = valueLabel(QString(), this, QStringLiteral("color:#FF6B6B;"));
    column->addWidget(totalNGRate, 0, Qt::AlignRight);
    for (QLabel* value : {totalCount, totalNGCount, totalNGRate}) {
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    totalCount->setObjectName(QStringLiteral("totalCount"));
    totalNGCount->setObjectName(QStringLiteral("totalNGCount"));
    totalNGRate->setObjectName(QStringLiteral("totalNGRate"));

    auto* outer = new QVBoxLayout;
    outer->setContentsMargins(30, 30, 0, 0);
    outer->addLayout(column);
    outer->addStretch();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 0, 10, 0);
    row->addLayout(outer);
    row->addWidget(histogram, 1);
}

StatisticsWidget::StatisticsWidget(QWidget* parent)
    : QDialog(parent)
{
    ensureKitIcons();
    TemperatureChartData* data = TemperatureChartData::instance();

    setFixedSize(1800, 950);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint | Qt::Dialog);
    setObjectName(QStringLiteral("statisticswidget"));
    move(recordsDialogPosition(size()));

    QWidget* titleBar =
        makeRecordsTitleBar(this, 1800, QStringLiteral(":/Statistics.png"), tr("生产统计"), &closeButton);

    auto* filterBar = new QWidget(this);
    filterBar->setFixedSize(1800, 80);
    auto* filterLayout = new QHBoxLayout(filterBar);
    filterLayout->setContentsMargins(20, 0, 20, 0);
    cameraBox = makeRecordsFilterBox(filterBar, 180, 0);
    detectBox = makeRecordsFilterBox(filterBar, 180, 1);
    areaBox = makeRecordsFilterBox(filterBar, 180, 2);
    timeRange = new FromTimeToTime(filterBar);
    confirmButton = new ColorButton(tr("确定"), filterBar);
    confirmButton->setFixedSize(120, 50);
    exportButton = new ColorButton(textOf(326), filterBar);
    exportButton->setFixedSize(200, 50);
    filterLayout->addWidget(caption(tr("相机号"), filterBar));
    filterLayout->addWidget(cameraBox);
    filterLayout->addSpacing(30);
    filterLayout->addWidget(caption(tr("检测号"), filterBar));
    filterLayout->addWidget(detectBox);
    filterLayout->addSpacing(30);
    filterLayout->addWidget(caption(tr("区域号"), filterBar));
    filterLayout->addWidget(areaBox);
    filterLayout->addSpacing(30);
    filterLayout->addWidget(caption(tr("日期时间"), filterBar));
    filterLayout->addWidget(timeRange);
    filterLayout->addSpacing(30);
    filterLayout->addWidget(confirmButton);
    filterLayout->addStretch();
    filterLayout->addWidget(exportButton);
    filterLayout->addSpacing(10);

    pStackedWidget = new QStackedWidget(this);
    pStackedWidget->setObjectName(QStringLiteral("pStackedWidget"));
    pStackedWidget->setFixedSize(1760, 800);
    cameraStatistics = new CameraStatisticsWidget(this);
    pStackedWidget->addWidget(cameraStatistics);
    auto* contentLayout = new QHBoxLayout;
    contentLayout->setSpacing(0);
    contentLayout->addWidget(pStackedWidget);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 20);
    layout->addWidget(titleBar);
    layout->addWidget(filterBar);
    layout->addLayout(contentLayout);
    layout->addStretch();

    setStyleSheet(QStringLiteral("QWidget#statisticswidget{background-color: #1E1E1E;}"
                                 "QStackedWidget#pStackedWidget{background-color: #262E34;border: 1px solid #707070;}"
                                 "QLabel{color: white;font-size: 20px;}"));

    loadingBox = new tipbox(1, nullptr, 600, 420);
    loadingBox->setMessage(textOf(RecordsText::Loading));
    loadingBox->hide();

    for (ComboBox* box : {cameraBox, detectBox, areaBox}) {
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &StatisticsWidget::comboxChange);
    }
    data->ensureQueryThread();
    connect(data->queryThread, SIGNAL(readResFinished()), this, SLOT(finishSearch()), Qt::QueuedConnection);
    connect(cameraStatistics->histogram, &Histogram::finishDraw, loadingBox, &QWidget::close);
    connect(confirmButton, &QPushButton::clicked, this, &StatisticsWidget::confirmQuery);
    connect(exportButton, &QPushButton::clicked, this, &StatisticsWidget::exportData);
    connect(closeButton, &QPushButton::clicked, this, &StatisticsWidget::closeButtonClicked);
    ExportNotice::watch(data);
}

ResultQuery StatisticsWidget::boxQuery() const
{
    return recordsBoxQuery(cameraBox, detectBox, areaBox, timeRange);
}

void StatisticsWidget::countToday()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    // Today is always the whole of today, whatever range an export or a
    // history query left in the shared query.
    const QDate today = recordsNow().date();
    ResultQuery q = boxQuery();
    q.from = QDateTime(today, QTime(0, 0, 0, 0));
    q.to = QDateTime(today, QTime(23, 59, 59, 999));
    data->setQuery(q);
    data->buildTodayAxis();
    data->countCycles();
}

void StatisticsWidget::showToday()
{
    for (ComboBox* box : {cameraBox, detectBox, areaBox}) {
        const QSignalBlocker block(box);
        box->setCurrentIndex(0);
    }
    timeRange->clear();
    m_waitingForResult = false;
    TemperatureChartData* data = TemperatureChartData::instance();
    data->statisticsSource = 0;
    countToday();
    changeLeftInfo();
    cameraStatistics->histogram->setLabels();
    const QList<QList<int>> counts = data->hourlyCounts();
    cameraStatistics->histogram->setData(counts.value(0), counts.value(1));
}

void StatisticsWidget::changeLeftInfo()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    cameraStatistics->totalCount->setText(QString::number(data->cycleCount));
    cameraStatistics->totalNGCount->setText(QString::number(data->ngCycleCount));
    // A range without a cycle has no rate: it shows as none of them NG.
    const double rate = std::isfinite(data->ngRate) ? data->ngRate : 0.0;
    cameraStatistics->totalNGRate->setText(QString::number(rate, 'g', 4) + QLatin1Char('%'));
}

void StatisticsWidget::comboxChange(int)
{
    TemperatureChartData* data = TemperatureChartData::instance();
    if (data->statisticsSource == 1) {
        return;
    }
    countToday();
    changeLeftInfo();
    const QList<QList<int>> counts = data->hourlyCounts();
    cameraStatistics->histogram->setData(counts.value(0), counts.value(1));
}

void StatisticsWidget::confirmQuery()
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
    loadingBox->show();
    data->statisticsSource = 1;
    data->setQuery(q);
    m_waitingForResult = data->startQuery(TemperatureChartData::ResultPart);
    if (!m_waitingForResult) {
        loadingBox->close();
    }
}

void StatisticsWidget::finishSearch()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    if (!m_waitingForResult || data->statisticsSource != 1) {
        // A result nobody waits for any more has replaced today's axis and
        // counts in the service: while today is shown, count it again.
        if (data->statisticsSource == 0 && isVisible()) {
            countToday();
            changeLeftInfo();
            cameraStatistics->histogram->setLabels();
            const QList<QList<int>> counts = data->hourlyCounts();
            cameraStatistics->histogram->setData(counts.value(0), counts.value(1));
        }
        return;
    }
    m_waitingForResult = false;
    changeLeftInfo();
    cameraStatistics->histogram->setLabels();
    const QList<QList<int>> counts = data->hourlyCounts();
    cameraStatistics->histogram->setData(counts.value(0), counts.value(1));
}

void StatisticsWidget::exportData()
{
    const QString folder = confirmedExportFolder(this);
    if (folder.isEmpty()) {
        return;
    }
    TemperatureChartData* data = TemperatureChartData::instance();
    data->setQuery(boxQuery());
    data->exportData(1, folder);
}

void StatisticsWidget::closeButtonClicked()
{
    loadingBox->close();
    QDialog::reject();
    closeRecordsDatePicker(timeRange);
    m_waitingForResult = false;
    TemperatureChartData::instance()->statisticsSource = 0;
}

void StatisticsWidget::reject()
{
    closeButtonClicked();
}

bool StatisticsWidget::event(QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress) {
        recordsDialogPressed(timeRange);
    }
    return QDialog::event(e);
}
