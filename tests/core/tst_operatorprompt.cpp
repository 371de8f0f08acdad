#include "operatorprompt.h"

#include <QtTest>

class TestOperatorPrompt : public QObject {
    Q_OBJECT

private slots:
    void handlerReceivesEveryWarning();
};

void TestOperatorPrompt::handlerReceivesEveryWarning()
{
    // Without a handler the warning is only logged and nothing blocks.
    QTest::ignoreMessage(QtWarningMsg, "operator warning: first");
    warnOperator(QStringLiteral("first"));

    QStringList seen;
    const OperatorWarningHandler previous =
        setOperatorWarningHandler([&seen](const QString& text) { seen.append(text); });
    QVERIFY(!previous);
    QTest::ignoreMessage(QtWarningMsg, "operator warning: second");
    warnOperator(QStringLiteral("second"));
    QCOMPARE(seen, QStringList{"second"});

    const OperatorWarningHandler mine = setOperatorWarningHandler({});
    QVERIFY(bool(mine));
    QTest::ignoreMessage(QtWarningMsg, "operator warning: third");
    warnOperator(QStringLiteral("third"));
    QCOMPARE(seen, QStringList{"second"});
}

QTEST_GUILESS_MAIN(TestOperatorPrompt)
#include "tst_operatorprompt.moc"
