#include "mapplication.h"

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QtTest>

class TestFonts : public QObject {
    Q_OBJECT

private slots:
    void screenFontDrawsAllFourLanguages_data();
    void screenFontDrawsAllFourLanguages();
};

void TestFonts::screenFontDrawsAllFourLanguages_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("simplified chinese") << QString::fromUtf8("检测区域");
    QTest::newRow("traditional chinese") << QString::fromUtf8("檢測區域");
    QTest::newRow("japanese") << QString::fromUtf8("カメラの設定");
    QTest::newRow("latin") << QString("Camera");
}

void TestFonts::screenFontDrawsAllFourLanguages()
{
    QFETCH(QString, text);
    installFontSubstitutes();
    QFont font("SimHei");
    font.setPixelSize(32);

    const QRawFont raw = QRawFont::fromFont(font);
    QVERIFY2(raw.isValid(), qPrintable(QFontInfo(font).family()));
    for (const QChar ch : text) {
        QVERIFY2(raw.supportsCharacter(ch),
                 qPrintable(QString("%1 missing in %2").arg(ch).arg(raw.familyName())));
    }

    // And the glyphs really come out as ink.
    QImage image(400, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignCenter, text);
    }
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ink += qGray(image.pixel(x, y)) < 128;
        }
    }
    QVERIFY(ink > 50 * text.size());
}

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
