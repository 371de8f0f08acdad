#include "colorbutton.h"
#include "edit.h"
#include "inputbox.h"
#include "kithost.h"
#include "modalanswer.h"
#include "numberkeypad.h"
#include "promptanswerer.h"
#include "screenstate.h"
#include "systemparam.h"
#include "testclock.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QIntValidator>
#include <QTest>

#include <memory>

// The password box: who gets which level, what the field shows, and the
// scripted entries that later screens' tests log in with.
class TestInputbox : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void check_data();
    void check();
    void hourTurnsBetweenTypingAndOk();
    void wrongEntryThenCancelKeepsLevelZero();
    void placeholders();
    void tenDigitCodeIsValid();
    void typedOnThePad();
    void freedWithItsPadOpen();

private:
    std::unique_ptr<TestWorkDir> m_dir;
    SystemParam m_params{};
    SystemParam* m_previous = nullptr;
};

void TestInputbox::initTestCase()
{
    initTextTable();
    gLanguage = 0;
}

void TestInputbox::init()
{
    m_dir.reset(new TestWorkDir);
    m_params = SystemParam{};
    m_previous = gpSystemParam;
    gpSystemParam = &m_params;
    screenState().setUserLevel(UserNone);
}

void TestInputbox::cleanup()
{
    gpSystemParam = m_previous;
    screenState().setUserLevel(UserNone);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_dir.reset();
}

void TestInputbox::check_data()
{
    QTest::addColumn<int>("protection");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("level");
    const QByteArray longest(99, '7');
    // The clock stands at 2026-12-08 10:00:05: the suffix is "120810".
    QTest::newRow("off, code") << 0 << QByteArray("1234") << "5826" << 1 << 2;
    QTest::newRow("off, code with suffix") << 0 << QByteArray("1234") << "5826120810" << 0 << 0;
    QTest::newRow("on, code alone") << 1 << QByteArray("1234") << "5826" << 0 << 0;
    QTest::newRow("on, code with suffix") << 1 << QByteArray("1234") << "5826120810" << 1 << 2;
    QTest::newRow("on, yesterday's suffix") << 1 << QByteArray("1234") << "5826120710" << 0 << 0;
    QTest::newRow("operator") << 0 << QByteArray("1234") << "1234" << 1 << 1;
    QTest::newRow("operator, wrong") << 0 << QByteArray("1234") << "123" << 0 << 0;
    QTest::newRow("empty stored, empty entry") << 0 << QByteArray() << "" << 1 << 1;
    QTest::newRow("empty stored, digits") << 0 << QByteArray() << "1" << 0 << 0;
    QTest::newRow("99 bytes") << 1 << longest << QString::fromLatin1(longest) << 1 << 1;
    QTest::newRow("99 bytes and one more") << 1 << longest << QString::fromLatin1(longest + "7") << 0 << 0;
    // The administrator code wins over an equal operator password.
    QTest::newRow("operator equals code") << 0 << QByteArray("5826") << "5826" << 1 << 2;
}

void TestInputbox::check()
{
    QFETCH(int, protection);
    QFETCH(QByteArray, stored);
    QFETCH(QString, entry);
    QFETCH(int, result);
    QFETCH(int, level);
    TestClock clock;
    m_params[131] = protection;
    QVERIFY(m_params.setPasswordLatin1(stored));
    screenState().setUserLevel(UserOperator);
    PromptAnswerer answerer;
    answerer.passwordEntries << entry;
    inputbox box(1);
    QCOMPARE(box.exec(), result);
    QCOMPARE(int(screenState().userLevel()), level);
    QCOMPARE(answerer.typedPasswords, QStringList{entry});
    QCOMPARE(box.passwordEdit->placeholderText(), textOf(result ? 125 : 357));
}

void TestInputbox::hourTurnsBetweenTypingAndOk()
{
    TestClock clock(QDateTime(QDate(2026, 12, 8), QTime(10, 59, 59)));
    m_params[131] = 1;
    inputbox box(1);
    box.show();
    box.passwordEdit->setText(QStringLiteral("5826120810"));
    clock.advanceMs(2000);
    box.accept();
    QCOMPARE(box.result(), int(QDialog::Rejected));
    QCOMPARE(screenState().userLevel(), UserNone);
    box.passwordEdit->setText(QStringLiteral("5826120811"));
    box.accept();
    QCOMPARE(box.result(), int(QDialog::Accepted));
    QCOMPARE(screenState().userLevel(), UserAdmin);
}

void TestInputbox::wrongEntryThenCancelKeepsLevelZero()
{
    QVERIFY(m_params.setPasswordLatin1("1234"));
    screenState().setUserLevel(UserOperator);
    PromptAnswerer answerer;
    answerer.passwordEntries << QStringLiteral("99");
    inputbox box(1);
    QCOMPARE(box.exec(), 0);
    QCOMPARE(screenState().userLevel(), UserNone);
    QVERIFY(box.passwordEdit->text().isEmpty());

    // Cancel alone leaves the level as it was.
    screenState().setUserLevel(UserOperator);
    inputbox second(1);
    QCOMPARE(second.exec(), 0);
    QCOMPARE(screenState().userLevel(), UserOperator);

    // Two tries: the wrong one first, then the right one.
    answerer.passwordEntries << QStringLiteral("1") << QStringLiteral("1234");
    inputbox third(1);
    QCOMPARE(third.exec(), 1);
    QCOMPARE(screenState().userLevel(), UserOperator);
}

void TestInputbox::placeholders()
{
    inputbox box(1);
    QCOMPARE(box.passwordEdit->placeholderText(), QStringLiteral("请输入密码"));
    QCOMPARE(box.passwordEdit->echoMode(), QLineEdit::Password);
    QCOMPARE(box.passwordEdit->geometry(), QRect(100, 230, 550, 60));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.passwordEdit->setText(QStringLiteral("12"));
    // A touch empties the field, gives up the focus and asks for the password.
    QTest::mouseClick(box.passwordEdit, Qt::LeftButton);
    QCOMPARE(box.passwordEdit->text(), QString());
    QVERIFY(!box.passwordEdit->hasFocus());
    QCOMPARE(box.passwordEdit->placeholderText(), textOf(125));
    QCOMPARE(kitHost()->servedEdit(), box.passwordEdit);
}

void TestInputbox::tenDigitCodeIsValid()
{
    inputbox box(1);
    const QValidator* validator = box.passwordEdit->validator;
    QVERIFY(validator);
    QCOMPARE(box.passwordEdit->QLineEdit::validator(), validator);
    QString code = QStringLiteral("5826123123");
    int pos = 0;
    QCOMPARE(validator->validate(code, pos), QValidator::Acceptable);
    QString letters = QStringLiteral("58a");
    QCOMPARE(validator->validate(letters, pos), QValidator::Invalid);
    // Typed on a hardware keyboard, all ten digits arrive.
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::keyClicks(box.passwordEdit, code);
    QCOMPARE(box.passwordEdit->text(), code);
}

void TestInputbox::typedOnThePad()
{
    TestClock clock;
    m_params[131] = 1;
    inputbox box(1);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(box.passwordEdit, Qt::LeftButton);
    NumberKeyPad* pad = gpNumKeyPad;
    QVERIFY(pad);
    QCOMPARE(pad->parentWidget(), static_cast<QWidget*>(&box));
    QCOMPARE(pad->pos(), QPoint(100, 295));
    QCOMPARE(pad->focusPolicy(), Qt::NoFocus);
    for (QChar c : QStringLiteral("5826120810")) {
        QTest::mouseClick(pad->keyGroup->button(c.digitValue()), Qt::LeftButton);
    }
    QCOMPARE(box.passwordEdit->text(), QStringLiteral("5826120810"));
    QTest::mouseClick(pad->backKey, Qt::LeftButton);
    QTest::mouseClick(pad->keyGroup->button(0), Qt::LeftButton);
    box.accept();
    QCOMPARE(screenState().userLevel(), UserAdmin);
}

void TestInputbox::freedWithItsPadOpen()
{
    auto* box = new inputbox(1);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QTest::mouseClick(box->passwordEdit, Qt::LeftButton);
    QVERIFY(gpNumKeyPad);
    QVERIFY(kitHost()->servedEdit());
    delete box;
    QVERIFY(!gpNumKeyPad);
    QVERIFY(!kitHost()->servedEdit());
    // A key of the shared keyboard and a release on a new field: nothing served, nothing read.
    QVERIFY(gpNumCharInput);
    gpNumCharInput->setContent(3);
    gpNumCharInput->eraseContent();
    gpNumberInput->eraseAll();
    inputbox next(1);
    next.show();
    QVERIFY(QTest::qWaitForWindowExposed(&next));
    QTest::mouseClick(next.passwordEdit, Qt::LeftButton);
    QVERIFY(gpNumKeyPad);
}

QTEST_MAIN(TestInputbox)
#include "tst_inputbox.moc"
