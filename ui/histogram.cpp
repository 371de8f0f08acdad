#include "histogram.h"

#include "temperaturechartdata.h"
#include "texttable.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kOkCaption = 589;
constexpr int kNgCaption = 590;
// "暂无数据": said over empty axes, which otherwise look like a screen
// that failed to load.
constexpr int kNoDataText = 706;
// Pixel sizes: the bucket times in three lines under a 40-px band, the
// counts over the bars; both read from a step back (8 pt was about 10 px).
constexpr int kLabelPixels = 12;
constexpr int kValuePixels = 15;
} // namespace

Histogram::Histogram(QWidget* parent, QStringList startLabels, QStringList endLabels, QList<int> ok, QList<int> ng)
    : QWidget(parent)
    , ok(std::move(ok))
    , ng(std::move(ng))
    , startLabels(std::move(startLabels))
    , endLabels(std::move(endLabels))
{
    recount();
}

void Histogram::recount()
{
    // A bucket is drawn only when it has both counts and both labels: a
    // shorter list would otherwise be read past its end.
    barCount = int(std::min({ok.size(), ng.size(), startLabels.size(), endLabels.size()}));
    maxValue = 0;
    for (int v : ok) {
        maxValue = std::max(maxValue, v);
    }
    for (int v : ng) {
        maxValue = std::max(maxValue, v);
    }
}

void Histogram::setLabels()
{
    TemperatureChartData* data = TemperatureChartData::instance();
    startLabels = data->axisLabels.value(0);
    endLabels = data->axisLabels.value(1);
    update();
}

bool Histogram::setData(QList<int> okCounts, QList<int> ngCounts)
{
    ok = std::move(okCounts);
    ng = std::move(ngCounts);
    recount();
    update();
    emit finishDraw();
    return true;
}

void Histogram::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    // The bucket count is worked out again here: labels may have been
    // replaced since the counts were.
    const int n = int(std::min({ok.size(), ng.size(), startLabels.size(), endLabels.size(), barCount}));

    painter.setPen(QColor(QStringLiteral("#707070")));
    QFont labelFont(QStringLiteral("SimHei"));
    labelFont.setPixelSize(kLabelPixels);
    QFont valueFont(QStringLiteral("SimHei"));
    valueFont.setPixelSize(kValuePixels);
    valueFont.setBold(true);
    painter.setFont(labelFont);
    painter.drawLine(20, (h - 40) / 2 - 20, w - 20, (h - 40) / 2 - 20);
    painter.drawLine(20, 40, 20, (h - 40) / 2 - 20);
    painter.drawLine(20, h - 40, w - 20, h - 40);
    painter.drawLine(20, h / 2 + 40, 20, h - 40);

    painter.setPen(QColor(QStringLiteral("#FFFFFF")));
    const double scale = maxValue > 0 ? double(h / 2 - 120) / double(maxValue) : 0.0;

    auto bar = [&](int count, int left, int y0, const QColor& colour) {
        double height = count * scale;
        const double top = y0 - height;
        if (height > 0 && height < 1 && count != 0) {
            height += 1;
        }
        painter.fillRect(QRect(left, int(top), 40, int(height)), colour);
        if (count != 0) {
            // Wider than the bar: five digits at the larger size still fit.
            painter.setFont(valueFont);
            painter.drawText(QRect(left - 10, int(top - 20), 60, 20), Qt::AlignCenter, QString::number(count));
            painter.setFont(labelFont);
        }
    };

    if (n > 0) {
        const int upper = n / 2;
        const int u = (w - 40) / (upper + 1);
        const int v = (w - 40) / (n - upper + 1);
        for (int i = 0; i < n; ++i) {
            const bool inUpper = i < upper;
            const int k = inUpper ? i + 1 : i - upper + 1;
            const int d = inUpper ? u : v;
            const int x = k * d;
            const int y0 = inUpper ? h / 2 - 40 : h - 40;
            // The three lines (start, "-", end) set 13 px apart so that they
            // fill the 40-px band under the base line and no more.
            const QStringList lines = QStringLiteral("%1\n-\n%2").arg(startLabels.at(i), endLabels.at(i)).split(QLatin1Char('\n'));
            for (int line = 0; line < lines.size(); ++line) {
                painter.drawText(QRectF(x - d / 2.0, y0 + 1 + 13 * line, d, 13), Qt::AlignCenter | Qt::TextDontClip, lines.at(line));
            }
            bar(ok.at(i), x - 40, y0, QColor(0, 255, 0, 200));
            bar(ng.at(i), x, y0, QColor(255, 0, 0, 200));
        }
    }

    if (n == 0 || maxValue == 0) {
        QFont note(QStringLiteral("SimHei"));
        note.setPixelSize(24);
        painter.setFont(note);
        painter.setPen(QColor(QStringLiteral("#B0B8BF")));
        painter.drawText(QRect(20, 40, w - 40, h - 80), Qt::AlignCenter, textOf(kNoDataText));
    }

    // The legend: each caption in a box of 100 pixels with its swatch to
    // the left, as wide as a longer caption needs so that no language's
    // caption is cut.
    const QFont legendFont(QStringLiteral("SimHei"), 15);
    painter.setFont(legendFont);
    painter.setPen(Qt::white);
    const QFontMetrics metrics(legendFont);
    int right = w - 40;
    const struct {
        int textId;
        QColor colour;
    } entries[] = {{kOkCaption, QColor(0, 255, 0, 200)}, {kNgCaption, QColor(255, 0, 0, 200)}};
    for (const auto& entry : entries) {
        const QString text = textOf(entry.textId);
        const int textWidth = std::max(100, metrics.horizontalAdvance(text) + 4);
        painter.drawText(QRect(right - textWidth, 0, textWidth, 30), Qt::AlignCenter, text);
        painter.fillRect(QRect(right - textWidth - 63, 0, 58, 30), entry.colour);
        right -= textWidth + 68;
    }
}
