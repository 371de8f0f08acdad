#include "inputbox.h"

#include "edit.h"
#include "globals.h"
#include "kithost.h"
#include "operatorprompt.h"
#include "screenstate.h"
#include "systemclock.h"
#include "systemparam.h"
#include "texttable.h"
#include "warnbox.h"

#include <QIntValidator>
#include <QPainter>

const char adminCode[] = "5826";

namespace {

// The ten-digit code is larger than any int: the field takes any row of
// digits (no more than the stored password can hold) in place of an int range.
class PasswordDigitsValidator : public QIntValidator {
public:
    using QIntValidator::QIntValidator;
    State validate(QString& input, int&) const override
    {
        if (input.size() > 99) {
            return Invalid;
        }
        for (const QChar c : input) {
            if (!c.isDigit() || c.unicode() > 127) {
                return Invalid;
            }
        }
        return input.isEmpty() ? Intermediate : Acceptable;
    }
};

} // namespace

QString administratorCodeAt(const QDateTime& now)
{
    QString code = QString::fromLatin1(adminCode);
    if (gpSystemParam && (*gpSystemParam)[131] != 0) {
        code += now.toString(QStringLiteral("MMddhh"));
    }
    return code;
}

inputbox::inputbox(int editFlags, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("inputbox"));
    setGeometry(QRect(placeOnScreen(QPoint(gScreenWidth / 2 - 375, gScreenHeight / 2 - 275), QSize(750, 550)),
                      QSize(750, 550)));
    passwordEdit = new Edit(editFlags, this, 1);
    passwordEdit->isPasswordField = true;
    if (editFlags & Edit::IntegerInput) {
        delete passwordEdit->validator;
        passwordEdit->validator = new PasswordDigitsValidator(passwordEdit);
        passwordEdit->setValidator(passwordEdit->validator);
    }
    passwordEdit->setPlaceholderText(QStringLiteral("请输入密码"));
    passwordEdit->setGeometry(100, 230, 550, 60);
    passwordEdit->setFont(QFont(QStringLiteral("SimHei"), 18));
    passwordEdit->setEchoMode(QLineEdit::Password);

    auto* ok = new okbtn(this);
    ok->setGeometry((750 + 30) / 2, (550 + 240) / 2, 135, 60);
    connect(ok, &QPushButton::clicked, this, &inputbox::accept);
    auto* cancel = new cancelbtn(this);
    cancel->setGeometry((750 - 30) / 2 - 135, (550 + 240) / 2, 135, 60);
    connect(cancel, &QPushButton::clicked, this, &inputbox::reject);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
}

int inputbox::exec()
{
    const PasswordEntryHandler handler = passwordEntryHandler();
    if (!handler) {
        return QDialog::exec();
    }
    setResult(0);
    for (;;) {
        QString entry;
        if (!handler(entry)) {
            reject();
            return 0;
        }
        passwordEdit->setText(entry);
        accept();
        if (result() == QDialog::Accepted) {
            return 1;
        }
    }
}

void inputbox::accept()
{
    const QString entered = passwordEdit->text();
    // Both read now: the level follows the record and the hour of this press.
    const QString operatorPassword = gpSystemParam ? gpSystemParam->passwordText() : QString();
    const QString code = administratorCodeAt(clockNow());
    OperatingState& state = screenState();
    if (entered == code) {
        state.setUserLevel(UserAdmin);
        passwordEdit->setPlaceholderText(textOf(125));
        QDialog::accept();
    } else if (gpSystemParam && entered == operatorPassword) {
        state.setUserLevel(UserOperator);
        passwordEdit->setPlaceholderText(textOf(125));
        QDialog::accept();
    } else {
        state.setUserLevel(UserNone);
        passwordEdit->clear();
        passwordEdit->setPlaceholderText(textOf(357));
    }
}

void inputbox::reject()
{
    passwordEdit->clear();
    QDialog::reject();
}

void inputbox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QStringLiteral("#353D45")));
    painter.drawRect(0, 0, width(), 60);
    painter.setBrush(QColor(QStringLiteral("#262E34")));
    painter.drawRect(0, 60, width(), height() - 60);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("SimHei"), 15));
    painter.drawText(QRect(15, 15, 72, 32), Qt::AlignCenter, QStringLiteral("输入框"));
    painter.drawText(QPoint(100, 200), QStringLiteral("请输入密码"));
}
