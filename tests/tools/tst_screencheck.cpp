// The tours' screen check: each kind of fault found on a small window drawn
// as the tours draw it, and a sound window passing.
#include "screencheck.h"

#include <QLabel>
#include <QPainter>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {

// The window drawn into a screen-sized picture where it stands.
QImage drawn(QWidget& window, const QSize& screen)
{
    window.show();
    QApplication::processEvents();
    QImage picture(screen, QImage::Format_RGB32);
    picture.fill(QColor(QStringLiteral("#1E1E1E")));
    QPainter painter(&picture);
    painter.drawPixmap(window.pos(), window.grab());
    return picture;
}

QStringList kinds(const QList<ScreenFinding>& findings)
{
    QStringList out;
    for (const ScreenFinding& f : findings) {
        out << findingKindName(f.kind) + QLatin1Char(' ') + f.widget + QStringLiteral(": ") + f.detail;
    }
    return out;
}

} // namespace

class TestScreenCheck : public QObject {
    Q_OBJECT

private slots:
    void contrastOfDrawnText_data()
    {
        QTest::addColumn<QColor>("ink");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("white on black") << QColor(Qt::white) << QColor(Qt::black) << 20.9 << 21.0;
        QTest::newRow("black on near-black") << QColor(Qt::black) << QColor(0x1E, 0x1E, 0x1E) << 1.1 << 1.4;
        QTest::newRow("grey on the dialog") << QColor(0x99, 0x99, 0x99) << QColor(0x1E, 0x1E, 0x1E) << 5.7 << 6.0;
        QTest::newRow("invisible") << QColor(Qt::gray) << QColor(Qt::gray) << 1.0 << 1.0;
    }

    // Smoothed glyph edges are blends: the text's colour is that of the
    // strokes' cores, not of the faintest edge.
    void contrastOfDrawnText()
    {
        QFETCH(QColor, ink);
        QFETCH(QColor, background);
        QFETCH(double, low);
        QFETCH(double, high);
        QImage picture(300, 60, QImage::Format_RGB32);
        picture.fill(background);
        QPainter p(&picture);
        p.setRenderHint(QPainter::TextAntialiasing);
        QFont font;
        font.setPixelSize(26);
        p.setFont(font);
        p.setPen(ink);
        p.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("Sensitivity 灵敏度"));
        p.end();
        const double measured = measuredTextContrast(picture, QRect(20, 5, 260, 50));
        QVERIFY2(measured >= low && measured <= high, qPrintable(QString::number(measured)));
    }

    void soundWindowPasses()
    {
        QWidget window;
        window.setStyleSheet(QStringLiteral("QWidget{background:#1E1E1E;} QLabel{color:white;font-size:20px;}"
                                            "QPushButton{color:white;background:#1A6BC4;font-size:20px;border:none;}"));
        window.setGeometry(100, 100, 600, 200);
        auto* label = new QLabel(QStringLiteral("Sensitivity"), &window);
        label->setGeometry(10, 10, 300, 50);
        auto* button = new QPushButton(QStringLiteral("OK"), &window);
        button->setGeometry(10, 100, 120, 60);
        const QImage picture = drawn(window, QSize(1920, 1080));
        const QList<ScreenFinding> findings = checkScreen(picture, {{&window, window.pos()}}, QRect(0, 0, 1920, 1080));
        QVERIFY2(findings.isEmpty(), qPrintable(kinds(findings).join(QLatin1Char('\n'))));
    }

    void eachFaultFound()
    {
        QWidget window;
        window.setStyleSheet(QStringLiteral("QWidget{background:#1E1E1E;} QLabel{color:white;font-size:20px;}"
                                            "QLabel#dim{color:#333333;}"
                                            "QPushButton{color:white;background:#2175D3;font-size:20px;}"));
        // Its right edge is past the screen's.
        window.setGeometry(1500, 100, 600, 300);
        auto* cut = new QLabel(QStringLiteral("Touch screen calibration"), &window);
        cut->setObjectName(QStringLiteral("cut"));
        cut->setGeometry(10, 10, 60, 50);
        auto* elided = new QLabel(QStringLiteral("Touch scr…"), &window);
        elided->setObjectName(QStringLiteral("elided"));
        elided->setGeometry(10, 70, 60, 50);
        auto* dim = new QLabel(QStringLiteral("Dim"), &window);
        dim->setObjectName(QStringLiteral("dim"));
        dim->setGeometry(100, 10, 200, 50);
        auto* small = new QPushButton(QStringLiteral("×"), &window);
        small->setObjectName(QStringLiteral("small"));
        small->setGeometry(100, 100, 30, 30);
        const QImage picture = drawn(window, QSize(1920, 1080));
        const QStringList found =
            kinds(checkScreen(picture, {{&window, window.pos()}}, QRect(0, 0, 1920, 1080)));
        QCOMPARE(found.filter(QStringLiteral("offscreen QWidget")).size(), 1);
        QCOMPARE(found.filter(QStringLiteral("fit QLabel#cut")).size(), 1);
        QCOMPARE(found.filter(QStringLiteral("QLabel#elided")).size(), 0);
        QCOMPARE(found.filter(QStringLiteral("contrast QLabel#dim")).size(), 1);
        QCOMPARE(found.filter(QStringLiteral("size QPushButton#small")).size(), 1);
        // Only the window is reported off the screen, not each child of it.
        QCOMPARE(found.filter(QStringLiteral("offscreen")).size(), 1);
    }

    // A box over the dialog hides what lies under it: that is not checked.
    void coveredWidgetsNotChecked()
    {
        QWidget dialog;
        dialog.setObjectName(QStringLiteral("dialog"));
        dialog.setStyleSheet(
            QStringLiteral("QWidget#dialog{background:#1E1E1E;} QLabel{color:white;font-size:20px;}"));
        dialog.setGeometry(0, 0, 800, 600);
        auto* cut = new QLabel(QStringLiteral("A caption much too long for its place"), &dialog);
        cut->setGeometry(200, 200, 40, 50);
        QWidget box;
        box.setStyleSheet(QStringLiteral("QWidget{background:#353D45;}"));
        box.setGeometry(100, 100, 400, 300);
        box.show();
        const QImage picture = drawn(dialog, QSize(1920, 1080));
        QVERIFY(checkScreen(picture, {{&dialog, QPoint(0, 0)}, {&box, box.pos()}}, QRect(0, 0, 1920, 1080))
                    .isEmpty());
        QCOMPARE(checkScreen(picture, {{&dialog, QPoint(0, 0)}}, QRect(0, 0, 1920, 1080)).size(), 1);
    }

    // A panel laid over the screen's widgets (a later child that paints)
    // hides them as a window does; a bare container over them does not.
    void coveredBySiblingNotChecked_data()
    {
        QTest::addColumn<bool>("painted");
        QTest::addColumn<int>("findings");
        QTest::newRow("panel") << true << 0;
        QTest::newRow("bare container") << false << 1;
    }

    void coveredBySiblingNotChecked()
    {
        QFETCH(bool, painted);
        QFETCH(int, findings);
        QWidget dialog;
        dialog.setObjectName(QStringLiteral("dialog"));
        dialog.setStyleSheet(
            QStringLiteral("QWidget#dialog{background:#1E1E1E;} QLabel{color:white;font-size:20px;}"));
        dialog.setGeometry(0, 0, 800, 600);
        auto* cut = new QLabel(QStringLiteral("A caption much too long for its place"), &dialog);
        cut->setGeometry(200, 200, 40, 50);
        auto* over = new QWidget(&dialog);
        over->setGeometry(100, 100, 400, 300);
        if (painted) {
            over->setAttribute(Qt::WA_StyledBackground);
            over->setStyleSheet(QStringLiteral("background:#353D45;"));
        }
        const QImage picture = drawn(dialog, QSize(1920, 1080));
        QCOMPARE(checkScreen(picture, {{&dialog, QPoint(0, 0)}}, QRect(0, 0, 1920, 1080)).size(), findings);
    }

    // The rows of a pick list are measured in its middle: a low header row
    // (a calendar's weekday names) above tall rows passes, low rows fail.
    void listRowsMeasuredInTheMiddle_data()
    {
        QTest::addColumn<int>("rowHeight");
        QTest::addColumn<int>("findings");
        QTest::newRow("tall rows") << 44 << 0;
        QTest::newRow("low rows") << 30 << 1;
    }

    void listRowsMeasuredInTheMiddle()
    {
        QFETCH(int, rowHeight);
        QFETCH(int, findings);
        QWidget window;
        window.setStyleSheet(QStringLiteral("QWidget{background:#1E1E1E;}"));
        window.setGeometry(0, 0, 600, 400);
        auto* table = new QTableWidget(7, 3, &window);
        table->setGeometry(10, 10, 300, 24 + 6 * rowHeight + 4);
        table->horizontalHeader()->hide();
        table->verticalHeader()->hide();
        table->horizontalHeader()->setDefaultSectionSize(90);
        table->verticalHeader()->setMinimumSectionSize(1);
        table->verticalHeader()->resizeSection(0, 24);
        for (int row = 1; row < 7; ++row) {
            table->verticalHeader()->resizeSection(row, rowHeight);
        }
        const QImage picture = drawn(window, QSize(1920, 1080));
        QCOMPARE(checkScreen(picture, {{&window, QPoint(0, 0)}}, QRect(0, 0, 1920, 1080)).size(), findings);
    }
};

QTEST_MAIN(TestScreenCheck)
#include "tst_screencheck.moc"
