// The plotting library's header still uses Qt's foreach, which this
// project switches off: it must come first, before anything includes Qt.
#undef QT_NO_FOREACH
#include <qcustomplot.h>

#include "mcustomplot.h"

#include "colorbutton.h"
#include "recordsclock.h"
#include "temperaturechartdata.h"
#include "texttable.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

constexpr int kViewBeforeNowS = 890;
constexpr int kViewAfterNowS = 10;
constexpr int kRefreshMs = 1000;
const QColor kGold(255, 215, 0);

double toKey(const QDateTime& t)
{
    return double(t.toMSecsSinceEpoch()) / 1000.0;
}

// Camera, detect and listed-area index of a series key ("C:0_D:1_F:11"),
// each read whole: area 11 is not area 1.
bool parseKey(const QString& key, int* camera, int* detect, int* area)
{
    static const QRegularExpression pattern(QStringLiteral("^C:(\\d+)_D:(\\d+)_F:(\\d+)$"));
    const QRegularExpressionMatch m = pattern.match(key);
    if (!m.hasMatch()) {
        return false;
    }
    *camera = m.captured(1).toInt();
    *detect = m.captured(2).toInt();
    *area = m.captured(3).toInt();
    return true;
}

void styleAxis(QCPAxis* axis)
{
    const QPen grey(QColor(112, 112, 112), 1);
    axis->setBasePen(grey);
    axis->setTickPen(grey);
    axis->setTickLabelColor(Qt::white);
    axis->setLabelColor(Qt::white);
    axis->setSubTicks(false);
    // The tick labels at a size that reads from the machine, not the
    // library's 8 pt.
    QFont tickFont(QStringLiteral("SimHei"));
    tickFont.setPixelSize(14);
    axis->setTickLabelFont(tickFont);
    axis->setLabelFont(tickFont);
}

} // namespace

mCustomPlot::mCustomPlot(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("wgt"));
    setStyleSheet(QStringLiteral("QWidget#wgt{border: 2px solid #707070;}"));
    setFixedSize(1764, 804);
    setViewToNow();

    plot = new QCustomPlot(this);
    plot->setGeometry(2, 2, 1760, 800);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables | QCP::iSelectLegend);
    QLinearGradient gradient;
    gradient.setColorAt(0, QColor(38, 46, 52));
    plot->setBackground(QBrush(gradient));

    styleAxis(plot->xAxis);
    styleAxis(plot->yAxis);
    plot->xAxis->grid()->setVisible(false);
    plot->yAxis->setLabel(QStringLiteral("温度°C"));
    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    ticker->setTickStepStrategy(QCPAxisTicker::tssMeetTickCount);
    plot->xAxis->setTicker(ticker);
    plot->xAxis->scaleRange(1.1, plot->xAxis->range().center());
    plot->yAxis->scaleRange(1.1, plot->yAxis->range().center());

    QCPLegend* legend = plot->legend;
    legend->setVisible(true);
    legend->setBrush(QColor(255, 255, 255, 0));
    legend->setBorderPen(Qt::NoPen);
    legend->setTextColor(Qt::white);
    legend->setSelectableParts(QCPLegend::spItems);
    legend->setSelectedBorderPen(Qt::NoPen);
    legend->setSelectedIconBorderPen(Qt::NoPen);
    plot->plotLayout()->insertColumn(0);
    plot->plotLayout()->addElement(0, 0, legend);
    plot->plotLayout()->setColumnStretchFactor(0, 0.001);
    legend->setMargins(QMargins(10, 15, 10, 300));
    plot->axisRect()->setAutoMargins(QCP::msNone);
    plot->axisRect()->setMargins(QMargins(60, 30, 20, 30));

    plot->selectionRect()->setPen(QPen(Qt::black, 1, Qt::DashLine));
    plot->selectionRect()->setBrush(QColor(0, 0, 100, 50));
    plot->setSelectionRectMode(QCP::srmNone);

    tracer = new QCPItemTracer(plot);
    tracer->setPen(QPen(kGold));
    tracer->setBrush(kGold);
    tracer->setStyle(QCPItemTracer::tsCircle);
    tracer->setSize(5);
    label = new QCPItemText(plot);
    label->setLayer(QStringLiteral("overlay"));
    QFont labelFont(QStringLiteral("SimHei"));
    labelFont.setPixelSize(16);
    label->setFont(labelFont);
    label->setColor(Qt::white);
    label->setPadding(QMargins(5, 5, 5, 5));
    label->setBrush(QColor(112, 112, 112, 112));
    label->setPositionAlignment(Qt::AlignBottom);
    label->position->setParentAnchor(tracer->position);
    // Nothing is picked yet: the tracer shows once a curve is selected and pressed.
    tracer->setVisible(false);
    label->setVisible(false);

    // Empty axes say so: without a word they look like a chart that did not load.
    noDataNote = new QCPItemText(plot);
    noDataNote->setLayer(QStringLiteral("overlay"));
    noDataNote->position->setType(QCPItemPosition::ptAxisRectRatio);
    noDataNote->position->setCoords(0.5, 0.5);
    noDataNote->setPositionAlignment(Qt::AlignCenter);
    QFont noteFont(QStringLiteral("SimHei"));
    noteFont.setPixelSize(28);
    noDataNote->setFont(noteFont);
    noDataNote->setColor(QColor(QStringLiteral("#B0B8BF")));
    noDataNote->setText(textOf(706));
    noDataNote->setSelectable(false);
    connect(plot, &QCustomPlot::beforeReplot, this, [this] {
        bool any = false;
        for (int i = 0; i < plot->graphCount() && !any; ++i) {
            any = plot->graph(i)->visible() && !plot->graph(i)->data()->isEmpty();
        }
        noDataNote->setVisible(!any);
    });

    realTimeButton = new customButton(plot);
    realTimeButton->setGeometry(10, 600, 100, 40);
    realTimeButton->setText(QStringLiteral("实时"));
    realTimeButton->setChecked(true);
    restoreButton = new ColorButton(QStringLiteral("还原"), plot);
    restoreButton->setGeometry(120, 600, 100, 40);
    zoomButton = new customButton(plot);
    zoomButton->setGeometry(10, 650, 100, 40);
    zoomButton->setText(QStringLiteral("区域移动"));
    zoomButton->setChecked(true);
    labelButton = new customButton(plot);
    labelButton->setGeometry(120, 650, 100, 40);
    labelButton->setText(QStringLiteral("显示标签"));
    labelButton->setChecked(true);
    // The label function starts on, as its button shows.
    labelsOn = true;
    connect(plot, &QCustomPlot::mousePress, this, &mCustomPlot::mouseMove1);

    // The buttons are two-state by look only: their handlers set the state.
    connect(realTimeButton, &QPushButton::clicked, this, [this] { toggleRealTime(); });
    connect(restoreButton, &QPushButton::clicked, this, [this] { restoreView(); });
    connect(zoomButton, &QPushButton::clicked, this, [this] { toggleZoom(); });
    connect(labelButton, &QPushButton::clicked, this, [this] { toggleLabels(); });

    connect(&refreshTimer, &QTimer::timeout, this, &mCustomPlot::realTimeDataSlot);
    connect(plot, &QCustomPlot::selectionChangedByUser, this, &mCustomPlot::selectedShow);
    connect(plot->xAxis, QOverload<const QCPRange&>::of(&QCPAxis::rangeChanged), plot->xAxis2,
            QOverload<const QCPRange&>::of(&QCPAxis::setRange));

    restoreView();
}

QString mCustomPlot::graphName(const QString& key)
{
    int camera = 0;
    int detect = 0;
    int area = 0;
    if (!parseKey(key, &camera, &detect, &area)) {
        return key;
    }
    return QStringLiteral("相机:%1_%2_区域:%3")
        .arg(camera + 1)
        .arg(detect == 0 ? QStringLiteral("成品检测") : QStringLiteral("模腔检测"))
        .arg(area + 1);
}

QColor mCustomPlot::graphColor(int k)
{
    static const QColor fixed[] = {{255, 0, 0},     {0, 255, 0},   {0, 0, 255},    {255, 255, 0},
                                   {255, 0, 255},   {0, 255, 255}, {255, 69, 0},   {128, 0, 128},
                                   {165, 42, 42},   {255, 128, 193}};
    if (k >= 0 && k < 10) {
        return fixed[k];
    }
    QRandomGenerator* random = QRandomGenerator::global();
    return QColor(random->bounded(255), random->bounded(255), random->bounded(255), 255);
}

void mCustomPlot::setViewToNow()
{
    const QDateTime now = recordsNow();
    viewFrom = now.addSecs(-kViewBeforeNowS);
    viewTo = now.addSecs(kViewAfterNowS);
}

void mCustomPlot::removeAllGraphs()
{
    // The tracer must not keep following a graph that is gone; a pointer
    // to a freed graph could otherwise be matched by a new one.
    tracer->setGraph(nullptr);
    tracer->setVisible(false);
    label->setVisible(false);
    plot->clearGraphs();
}

void mCustomPlot::clearGraphs()
{
    removeAllGraphs();
    graphIndex.clear();
    shownGraphs.clear();
}

void mCustomPlot::addSeriesGraph(const QString& key, const QVector<QPointF>& points)
{
    QCPGraph* graph = plot->addGraph();
    graph->setPen(QPen(graphColor(nextGraph)));
    graph->setName(graphName(key));
    graph->setLineStyle(QCPGraph::lsLine);
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(points.size());
    values.reserve(points.size());
    for (const QPointF& p : points) {
        keys.append(p.x());
        values.append(p.y());
    }
    graph->addData(keys, values, true);
    graphIndex.insert(key, nextGraph);
    shownGraphs.append(nextGraph);
    ++nextGraph;
}

void mCustomPlot::drawAllSeries()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    const SeriesMap series = data->temperatureSeries();
    nextGraph = 0;
    bool made = false;
    for (auto it = series.cbegin(); it != series.cend(); ++it) {
        if (it.value().isEmpty()) {
            continue;
        }
        addSeriesGraph(it.key(), it.value());
        plot->graph(plot->graphCount() - 1)->rescaleAxes();
        made = true;
    }
    if (!made) {
        plot->addGraph()->setName(QStringLiteral("相机:0_没有检测_区域:0"));
        hasGraphs = false;
    } else {
        hasGraphs = true;
    }
    // Today's series hold every point gathered so far: the same points must
    // not come again as new ones.
    if (data->seriesMode != 2) {
        data->clearNewPoints();
    }
    plot->replot();
}

void mCustomPlot::appendNewPoints()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    const SeriesMap points = data->newPoints;
    if (!points.isEmpty() && !hasGraphs) {
        removeAllGraphs();
        hasGraphs = true;
    }
    for (auto it = points.cbegin(); it != points.cend(); ++it) {
        if (it.value().isEmpty()) {
            continue;
        }
        const auto found = graphIndex.constFind(it.key());
        if (found == graphIndex.constEnd()) {
            addSeriesGraph(it.key(), it.value());
            continue;
        }
        QVector<double> keys;
        QVector<double> values;
        keys.reserve(it.value().size());
        values.reserve(it.value().size());
        for (const QPointF& p : it.value()) {
            keys.append(p.x());
            values.append(p.y());
        }
        plot->graph(found.value())->addData(keys, values, true);
    }
    data->clearNewPoints();
}

void mCustomPlot::setRealTimeButton(const QString& text, bool checked)
{
    realTimeButton->setText(text);
    realTimeButton->setChecked(checked);
}

void mCustomPlot::resetView()
{
    cameraFilter = -1;
    detectFilter = -1;
    setViewToNow();
}

void mCustomPlot::setFilter(const PlotFilter& filter)
{
    cameraFilter = filter.camera;
    detectFilter = filter.detect;
    areaFilter = filter.area;
    viewFrom = filter.from;
    viewTo = filter.to;
}

void mCustomPlot::applyFilter()
{
    shownGraphs.clear();
    tracer->setVisible(false);
    label->setVisible(false);
    for (auto it = graphIndex.cbegin(); it != graphIndex.cend(); ++it) {
        QCPGraph* graph = plot->graph(it.value());
        if (!graph) {
            continue;
        }
        int camera = -1;
        int detect = -1;
        int area = -1;
        parseKey(it.key(), &camera, &detect, &area);
        const bool hidden = (cameraFilter != -1 && camera != cameraFilter)
            || (detectFilter != -1 && detect != detectFilter) || (areaFilter != -1 && area != areaFilter);
        graph->setVisible(!hidden);
        if (!hidden) {
            shownGraphs.append(it.value());
        }
    }
    plot->replot();
}

void mCustomPlot::updateLegend()
{
    plot->legend->setVisible(!graphIndex.isEmpty());
    plot->replot();
}

void mCustomPlot::rescaleValuesInView()
{
    // Only the points inside the shown key range count, found by binary
    // search: the cost does not grow with the points left of the window.
    const QCPRange keyRange = plot->xAxis->range();
    bool any = false;
    QCPRange values;
    for (int i = 0; i < plot->graphCount(); ++i) {
        QCPGraph* graph = plot->graph(i);
        if (!graph->visible()) {
            continue;
        }
        bool found = false;
        const QCPRange r = graph->getValueRange(found, QCP::sdBoth, keyRange);
        if (!found) {
            continue;
        }
        if (any) {
            values.expand(r);
        } else {
            values = r;
            any = true;
        }
    }
    if (!any) {
        return;
    }
    // A little room above and below: a curve at the extreme would otherwise
    // lie on the axis line and vanish under it.
    const double pad = values.size() > 0 ? values.size() * 0.05 : 1.0;
    plot->yAxis->setRange(values.lower - pad, values.upper + pad);
}

void mCustomPlot::restoreView()
{
    if (viewFrom.isValid() && viewTo.isValid()) {
        plot->xAxis->setRange(toKey(viewFrom), toKey(viewTo));
    }
    rescaleValuesInView();
    plot->replot();
}

void mCustomPlot::startRefresh()
{
    TemperatureChartData::instance()->keepNewPoints = true;
    refreshTimer.start(kRefreshMs);
}

void mCustomPlot::stopRefresh()
{
    refreshTimer.stop();
    // Nobody takes new points until the next start: the next start draws
    // today's series whole.
    TemperatureChartData* data = TemperatureChartData::instance();
    data->keepNewPoints = false;
    data->clearNewPoints();
}

void mCustomPlot::realTimeDataSlot()
{
    setViewToNow();
    plot->xAxis->setRange(toKey(viewFrom), toKey(viewTo));
    appendNewPoints();
    const double oldest = toKey(viewTo) - kViewAfterNowS - kLiveKeepSeconds;
    for (int n : graphIndex) {
        if (QCPGraph* graph = plot->graph(n)) {
            graph->data()->removeBefore(oldest);
        }
    }
    rescaleValuesInView();
    plot->legend->setVisible(!graphIndex.isEmpty());
    plot->replot();
}

void mCustomPlot::toggleRealTime()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    if (data->seriesMode != 0) {
        data->seriesMode = 0;
        setRealTimeButton(QStringLiteral("实时"), true);
        clearGraphs();
        drawAllSeries();
        plot->legend->setVisible(!graphIndex.isEmpty());
        setViewToNow();
        restoreView();
        startRefresh();
    } else {
        data->seriesMode = 1;
        setRealTimeButton(QStringLiteral("暂停"), false);
        stopRefresh();
    }
}

void mCustomPlot::toggleZoom()
{
    if (zoomMode) {
        plot->setSelectionRectMode(QCP::srmNone);
        zoomMode = false;
        zoomButton->setText(QStringLiteral("区域移动"));
        zoomButton->setChecked(true);
    } else {
        plot->setSelectionRectMode(QCP::srmZoom);
        zoomMode = true;
        zoomButton->setText(QStringLiteral("区域放大"));
        zoomButton->setChecked(false);
    }
}

void mCustomPlot::toggleLabels()
{
    if (labelsOn) {
        tracer->setVisible(false);
        label->setVisible(false);
        plot->replot();
        labelsOn = false;
        disconnect(plot, &QCustomPlot::mousePress, this, &mCustomPlot::mouseMove1);
        labelButton->setText(QStringLiteral("隐藏标签"));
        labelButton->setChecked(false);
    } else {
        tracer->setVisible(true);
        label->setVisible(true);
        plot->replot();
        labelsOn = true;
        connect(plot, &QCustomPlot::mousePress, this, &mCustomPlot::mouseMove1, Qt::UniqueConnection);
        labelButton->setText(QStringLiteral("显示标签"));
        labelButton->setChecked(true);
    }
}

void mCustomPlot::selectedShow()
{
    for (int i = 0; i < plot->graphCount(); ++i) {
        QCPGraph* graph = plot->graph(i);
        QCPPlottableLegendItem* item = plot->legend->itemWithPlottable(graph);
        if ((item && item->selected()) || graph->selected()) {
            selectedGraph = i;
            graph->selectionDecorator()->setPen(QPen(kGold, 3));
            graph->setSelection(QCPDataSelection(graph->data()->dataRange()));
            if (item) {
                item->setSelectedTextColor(kGold);
                item->setSelected(true);
            }
        }
    }
}

void mCustomPlot::mouseMove1(QMouseEvent* event)
{
    if (shownGraphs.contains(selectedGraph) && selectedGraph < plot->graphCount()) {
        tracer->setVisible(true);
        label->setVisible(true);
        tracer->setGraph(plot->graph(selectedGraph));
        tracer->setGraphKey(plot->xAxis->pixelToCoord(event->pos().x()));
        tracer->setInterpolating(true);
        tracer->updatePosition();
        const double key = tracer->position->key();
        const double value = tracer->position->value();
        label->setText(QStringLiteral("日期:%1\n温度:%2")
                           .arg(QDateTime::fromMSecsSinceEpoch(qint64(key * 1000.0))
                                    .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                                QString::number(value, 'g')));
    } else {
        tracer->setVisible(false);
        label->setVisible(false);
    }
    plot->replot();
}

void mCustomPlot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.fillRect(rect(), QColor(53, 61, 69));
}
