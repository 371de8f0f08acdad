// The record pictures' fast scaling against QImage::scaled, which it must
// equal pixel for pixel.
#include "nearestscale.h"

#include <QPainter>
#include <QtTest>

#include <cstring>
#include <random>

class TestNearestScale : public QObject {
    Q_OBJECT
private slots:
    void equalsQtFastScaling_data();
    void equalsQtFastScaling();
    void greyAsRgb32PaintsAsTheGreyPicture_data();
    void greyAsRgb32PaintsAsTheGreyPicture();
};

namespace {

QImage noise(QSize size, QImage::Format format, std::mt19937& random)
{
    QImage image(size, format);
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int i = 0; i < image.bytesPerLine(); ++i) {
            line[i] = uchar(random());
        }
    }
    // RGB32 pixels are 0xffRRGGBB, as every picture the JPEG reader gives.
    if (format == QImage::Format_RGB32) {
        for (int y = 0; y < image.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                line[x] |= 0xff000000u;
            }
        }
    }
    return image;
}

} // namespace

void TestNearestScale::equalsQtFastScaling_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    const QList<QImage::Format> formats{QImage::Format_Grayscale8, QImage::Format_RGB32, QImage::Format_ARGB32,
                                        QImage::Format_Indexed8};
    // The panel's tiles for a 1920 x 1080 camera, odd ratios either way,
    // single rows and columns, and sizes the grey indices just number.
    const QList<QPair<QSize, QSize>> sizes{{QSize(1920, 1080), QSize(1816, 1000)},
                                           {QSize(1920, 1080), QSize(905, 498)},
                                           {QSize(1920, 1080), QSize(1920, 1080)},
                                           {QSize(1920, 1080), QSize(1920, 7)},
                                           {QSize(640, 480), QSize(1817, 1003)},
                                           {QSize(1, 1), QSize(33, 17)},
                                           {QSize(7, 1), QSize(1, 5)},
                                           {QSize(257, 3), QSize(1000, 3)},
                                           {QSize(300, 2), QSize(0, 5)}};
    for (QImage::Format f : formats) {
        for (const auto& s : sizes) {
            QTest::addRow("format %d, %dx%d to %dx%d", int(f), s.first.width(), s.first.height(), s.second.width(),
                          s.second.height())
                << int(f) << s.first << s.second;
        }
    }
    // Random sizes of both formats the JPEG reader gives.
    std::mt19937 random(5);
    for (int i = 0; i < 40; ++i) {
        const QSize from(1 + int(random() % 2100), 1 + int(random() % 1300));
        const QSize to(1 + int(random() % 2100), 1 + int(random() % 1300));
        const QImage::Format f = i % 2 ? QImage::Format_RGB32 : QImage::Format_Grayscale8;
        QTest::addRow("random %d", i) << int(f) << from << to;
    }
}

void TestNearestScale::equalsQtFastScaling()
{
    QFETCH(int, format);
    QFETCH(QSize, from);
    QFETCH(QSize, to);
    std::mt19937 random(11);
    QImage picture = noise(from, QImage::Format(format), random);
    if (format == QImage::Format_Indexed8) {
        QVector<QRgb> colours;
        for (int i = 0; i < 256; ++i) {
            colours << qRgb(i, 255 - i, i / 2);
        }
        picture.setColorTable(colours);
    }
    const QImage expected = picture.scaled(to, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    // Twice: the second time from the kept maps.
    for (int round = 0; round < 2; ++round) {
        const QImage ours = nearestScaled(picture, to);
        QCOMPARE(ours.size(), expected.size());
        QCOMPARE(ours.format(), expected.format());
        for (int y = 0; y < expected.height(); ++y) {
            const int bytes = expected.width() * expected.depth() / 8;
            if (std::memcmp(ours.constScanLine(y), expected.constScanLine(y), std::size_t(bytes)) != 0) {
                QFAIL(qPrintable(QStringLiteral("row %1 differs").arg(y)));
            }
        }
    }
}

void TestNearestScale::greyAsRgb32PaintsAsTheGreyPicture_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    for (QImage::Format f : {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB16}) {
        QTest::addRow("screen format %d, panel tile", int(f)) << int(f) << QSize(1920, 1080) << QSize(1816, 1000);
        QTest::addRow("screen format %d, enlarged", int(f)) << int(f) << QSize(640, 480) << QSize(1001, 777);
        QTest::addRow("screen format %d, same size", int(f)) << int(f) << QSize(300, 200) << QSize(300, 200);
    }
}

// What the camera tile paints without a transformation: the RGB32 copy
// leaves exactly the pixels the grey picture Qt scales would.
void TestNearestScale::greyAsRgb32PaintsAsTheGreyPicture()
{
    QFETCH(int, screen);
    QFETCH(QSize, from);
    QFETCH(QSize, to);
    std::mt19937 random(3);
    const QImage picture = noise(from, QImage::Format_Grayscale8, random);
    const QImage expanded = nearestScaledGreyAsRgb32(picture, to);
    QCOMPARE(expanded.format(), QImage::Format_RGB32);
    QCOMPARE(expanded, picture.scaled(to, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                           .convertToFormat(QImage::Format_RGB32));
    QImage ours(to + QSize(5, 5), QImage::Format(screen));
    QImage theirs(ours.size(), ours.format());
    ours.fill(Qt::black);
    theirs.fill(Qt::black);
    {
        QPainter p(&ours);
        p.drawImage(0, 0, expanded);
    }
    {
        QPainter p(&theirs);
        p.drawImage(0, 0, picture.scaled(to, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
    QCOMPARE(ours, theirs);
}

QTEST_MAIN(TestNearestScale)
#include "tst_nearestscale.moc"
