#pragma once

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QTimer>
#include <QWidget>

class ColorButton;
class QCPItemText;
class QCPItemTracer;
class QCustomPlot;
class QMouseEvent;
class customButton;

// Which curves the temperature plot shows and, when from and to are valid,
// the time window it shows them in. -1 means all.
struct PlotFilter {
    int camera = -1;
    int detect = -1;
    int area = -1;
    QDateTime from;
    QDateTime to;
};

// The curve view of the temperature dialog: one line per temperature series
// of the records service over a date-time axis, either today's series in a
// 15-minute window moving with the clock or a stored range.
//
// Live, the plot never draws all series again: each second it adds only the
// points gathered since the last second and rescales the values over the
// shown window, so a refresh costs the same late in the day as early. The
// records gather those points only while the refresh runs.
class mCustomPlot : public QWidget {
    Q_OBJECT
public:
    explicit mCustomPlot(QWidget* parent = nullptr);

    void clearGraphs();
    void drawAllSeries();
    void appendNewPoints();
    void setRealTimeButton(const QString& text, bool checked);
    void resetView();
    void setFilter(const PlotFilter& filter);
    void applyFilter();
    void updateLegend();
    void restoreView();
    void startRefresh();
    void stopRefresh();
    void toggleRealTime();

    // "相机:%1_%2_区域:%3" for a series key, the numbers counted from 1.
    static QString graphName(const QString& key);
    static QColor graphColor(int k);

    QCustomPlot* plot = nullptr;
    QCPItemTracer* tracer = nullptr;
    QCPItemText* label = nullptr;
    // "暂无数据" in the middle of the axes while no curve has a point.
    QCPItemText* noDataNote = nullptr;
    customButton* realTimeButton = nullptr;
    QDateTime unusedFrom;
    QDateTime unusedTo;
    QTimer refreshTimer;
    int cameraFilter = -1;
    int detectFilter = -1;
    int areaFilter = -1;
    QDateTime viewFrom;
    QDateTime viewTo;
    QMap<QString, int> graphIndex;
    QList<int> shownGraphs;
    int nextGraph = 0;
    bool hasGraphs = false;
    bool zoomMode = false;
    bool labelsOn = false;
    int selectedGraph = 0;

    ColorButton* restoreButton = nullptr;
    customButton* zoomButton = nullptr;
    customButton* labelButton = nullptr;

    // A live graph keeps at most this much: a plot left open across
    // midnight would otherwise keep every day it has seen.
    static constexpr double kLiveKeepSeconds = 24 * 3600;

public slots:
    void realTimeDataSlot();
    void selectedShow();
    void mouseMove1(QMouseEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void removeAllGraphs();
    void addSeriesGraph(const QString& key, const QVector<QPointF>& points);
    void rescaleValuesInView();
    void setViewToNow();
    void toggleZoom();
    void toggleLabels();
};
