// Captions kept inside their widgets: drawn smaller when too wide, wrapped
// when a label is too wide even small, back to the sheet's size when a
// shorter caption comes; the common sheet's screens get it by themselves.
#include "captionfit.h"
#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "edit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

// The widest line of text in w's font.
int widthOf(const QWidget* w, const QString& text)
{
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        widest = qMax(widest, w->fontMetrics().horizontalAdvance(line));
    }
    return widest;
}

} // namespace

class TestCaptionFit : public QObject {
    Q_OBJECT

private slots:
    void buttonCaptionShrinksAndGrowsBack()
    {
        QWidget page;
        setCommonStyleSheet(&page, QStringLiteral("QPushButton#b{font-size:24px;padding-left:20px;padding-right:5px;}"));
        auto* b = new QPushButton(QStringLiteral("修改时间"), &page);
        b->setObjectName(QStringLiteral("b"));
        b->setFixedSize(150, 50);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(b->font().pixelSize(), 24);

        b->setText(QStringLiteral("Touch screen calibration"));
        b->repaint();
        QVERIFY(b->font().pixelSize() < 24);
        QVERIFY(b->font().pixelSize() >= CaptionFit::MinPixelSize);
        QVERIFY(widthOf(b, b->text()) <= 125);
        // Too long for one line even small: two lines, no word lost.
        QCOMPARE(QString(b->text()).replace(QLatin1Char('\n'), QLatin1Char(' ')),
                 QStringLiteral("Touch screen calibration"));

        b->setText(QStringLiteral("备份"));
        b->repaint();
        QCOMPARE(b->font().pixelSize(), 24);
        // What the page's sheet says of the button still holds.
        QCOMPARE(b->palette().color(QPalette::ButtonText), QColor(Qt::white));
    }

    void labelWrapsWhenTooWideEvenSmall()
    {
        QWidget page;
        setCommonStyleSheet(&page);
        auto* label = new QLabel(QStringLiteral("Template is saved as the NG image of the mould"), &page);
        label->setFixedSize(120, 80);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(label->wordWrap());
        const QRect needed =
            label->fontMetrics().boundingRect(QRect(0, 0, 120, 1000), Qt::TextWordWrap, label->text());
        QVERIFY(needed.height() <= 80);
    }

    // A label's own declarations stay when its size is set beside them.
    void ownDeclarationsKept()
    {
        EditBox box(0, 10, nullptr, QStringLiteral("Maximum offset"));
        setCommonStyleSheet(&box);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QVERIFY(widthOf(box.label, box.label->text()) <= box.label->contentsRect().width()
                || box.label->wordWrap());
        QCOMPARE(box.label->palette().color(QPalette::WindowText), QColor(Qt::yellow));
    }

    // In a column narrower than its caption a check box is narrowed with
    // the column and its caption drawn smaller, instead of running past it.
    void checkBoxFollowsItsColumn()
    {
        QWidget page;
        setCommonStyleSheet(&page);
        page.setFixedWidth(420);
        auto* layout = new QHBoxLayout(&page);
        auto* check = new CheckBox(&page, QStringLiteral("Temperature alarm does not stop the machine"));
        layout->addWidget(check);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(check->width() <= 420);
        check->repaint();
        QStyleOptionButton opt;
        opt.initFrom(check);
        const QRect text = check->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, check);
        QVERIFY(check->font().pixelSize() < 26);
        QVERIFY(widthOf(check, check->text()) <= text.width());
    }
};

QTEST_MAIN(TestCaptionFit)
#include "tst_captionfit.moc"
