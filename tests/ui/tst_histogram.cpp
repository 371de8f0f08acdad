#include "histogram.h"
#include "processstate.h"
#include "temperaturechartdata.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

// The bar chart painted into a picture: bars found by their colours.
class TestHistogram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { initTextTable(); }
    void bars_data();
    void bars();
    void smallestBarIsOnePixelWithItsValue();
    void setDataAnnouncesAndSetLabelsTakesTheService();
};

namespace {

constexpr int kW = 1200;
constexpr int kH = 760;

QStringList labels(int n, const QString& prefix)
{
    QStringList out;
    for (int i = 0; i < n; ++i) {
        out << QStringLiteral("%1 %2").arg(prefix).arg(i);
    }
    return out;
}

QList<int> filled(int n, int v)
{
    return QVector<int>(n, v).toList();
}

QImage paint(Histogram& h)
{
    h.resize(kW, kH);
    QImage image(kW, kH, QImage::Format_ARGB32);
    image.fill(Qt::black);
    h.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Pixels of a bar colour (green or red at alpha 200 over black) in a column
// band, legend swatches excluded.
int barPixels(const QImage& image, bool green, int fromX = 0, int toX = kW)
{
    int count = 0;
    for (int y = 31; y < image.height(); ++y) {
        for (int x = fromX; x < toX; ++x) {
            const QColor c = image.pixelColor(x, y);
            const bool isGreen = c.green() > 150 && c.red() < 40 && c.blue() < 40;
            const bool isRed = c.red() > 150 && c.green() < 40 && c.blue() < 40;
            count += green ? isGreen : isRed;
        }
    }
    return count;
}

} // namespace

void TestHistogram::bars_data()
{
    QTest::addColumn<int>("starts");
    QTest::addColumn<int>("ends");
    QTest::addColumn<QList<int>>("ok");
    QTest::addColumn<QList<int>>("ng");
    QTest::addColumn<int>("barCount");
    QTest::addColumn<int>("okBars"); // OK bars expected, each 40 wide

    QTest::newRow("all zero: no bar") << 24 << 24 << filled(24, 0) << filled(24, 0) << 24 << 0;
    QTest::newRow("a day") << 24 << 24 << filled(24, 3) << filled(24, 1) << 24 << 24;
    QTest::newRow("more labels than counts") << 24 << 24 << QList<int>{5, 5, 5} << QList<int>{1, 1, 1} << 3 << 3;
    QTest::newRow("fewer end labels") << 24 << 2 << filled(24, 5) << filled(24, 5) << 2 << 2;
    QTest::newRow("no end labels") << 24 << 0 << filled(24, 5) << filled(24, 5) << 0 << 0;
    QTest::newRow("fewer NG counts") << 24 << 24 << filled(24, 5) << QList<int>{5} << 1 << 1;
}

void TestHistogram::bars()
{
    QFETCH(int, starts);
    QFETCH(int, ends);
    QFETCH(QList<int>, ok);
    QFETCH(QList<int>, ng);
    QFETCH(int, barCount);
    QFETCH(int, okBars);

    Histogram h(nullptr, labels(starts, "s"), labels(ends, "e"), ok, ng);
    QCOMPARE(h.barCount, barCount);
    const QImage image = paint(h);
    // Every OK bar of the same count is equally high: pixels = bars × 40 × height.
    const int green = barPixels(image, true);
    if (okBars == 0) {
        QCOMPARE(green, 0);
        QCOMPARE(barPixels(image, false), 0);
    } else {
        QCOMPARE(green % (40 * okBars), 0);
        QVERIFY(green > 0);
    }
}

void TestHistogram::smallestBarIsOnePixelWithItsValue()
{
    // One bucket only: it stands alone in the lower row at x = (w − 40) ÷ 2.
    {
        Histogram h(nullptr, labels(1, "s"), labels(1, "e"), {1000}, {0});
        const QImage image = paint(h);
        const int x = (kW - 40) / 2;
        QCOMPARE(barPixels(image, true, x - 40, x), 40 * (kH / 2 - 120));
        QCOMPARE(barPixels(image, true, 0, x - 40) + barPixels(image, true, x, kW), 0);
        // Nothing above the middle: the upper row is empty.
        QImage upper = image.copy(0, 31, kW, kH / 2 - 80);
        QCOMPARE(barPixels(upper, true), 0);
    }
    // 1 beside 1000: a one-pixel bar, its value written just above it.
    Histogram h(nullptr, labels(2, "s"), labels(2, "e"), {1000, 1}, {0, 0});
    const QImage image = paint(h);
    const int v = (kW - 40) / 2; // lower row: 2 − 1 buckets + 1 slots
    const int x = 1 * v;         // bucket 1 is the lower row's first
    const QImage lower = image.copy(0, kH / 2, kW, kH / 2);
    QCOMPARE(barPixels(lower, true, x - 40, x), 40);
    // The value's white pixels stand in the 20 pixels above the bar.
    int white = 0;
    for (int y = kH - 40 - 22; y < kH - 40 - 1; ++y) {
        for (int px = x - 40; px < x; ++px) {
            white += image.pixelColor(px, y).lightness() > 200;
        }
    }
    QVERIFY(white > 0);
}

void TestHistogram::setDataAnnouncesAndSetLabelsTakesTheService()
{
    ProcessState state;
    TemperatureChartData data;
    gpTemperatureChartData = &data;
    data.axisLabels = {labels(3, "a"), labels(3, "b")};
    Histogram h(nullptr, {}, {}, {}, {});
    QSignalSpy drawn(&h, &Histogram::finishDraw);
    h.setLabels();
    QCOMPARE(h.startLabels, data.axisLabels.at(0));
    QCOMPARE(h.barCount, 0); // counts still missing
    QVERIFY(h.setData({1, 2, 3}, {0, 0, 7}));
    QCOMPARE(drawn.count(), 1);
    QCOMPARE(h.barCount, 3);
    QCOMPARE(h.maxValue, 7);
    // Labels replaced by shorter ones after the counts: painting stays within them.
    data.axisLabels = {labels(1, "a"), labels(1, "b")};
    h.setLabels();
    const QImage image = paint(h);
    QCOMPARE(barPixels(image, true), 40 * int((kH / 2 - 120) * 1.0 / 7));
}

QTEST_MAIN(TestHistogram)
#include "tst_histogram.moc"
