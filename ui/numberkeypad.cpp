#include "numberkeypad.h"

#include "colorbutton.h"
#include "edit.h"
#include "kithost.h"
#include "texttable.h"

#include <QButtonGroup>
#include <QPaintEvent>
#include <QPainter>

QPointer<NumberInput> gpNumberInput;
QPointer<NumCharInput> gpNumCharInput;
QPointer<NumberKeyPad> gpNumKeyPad;

namespace {

void paintKeyboard(QWidget* keyboard, QPaintEvent* event)
{
    QPainter painter(keyboard);
    painter.fillRect(event->rect(), QColor(255, 251, 240, 200));
    painter.setPen(QColor(QStringLiteral("#191532")));
    painter.drawRect(0, 0, keyboard->width() - 1, keyboard->height() - 1);
}

ColorButton* makeKey(const QString& caption, QWidget* keyboard, const QRect& geometry)
{
    auto* key = new ColorButton(caption, keyboard);
    key->setGeometry(geometry);
    // Keys are read at arm's length: the kit's 18-px caption left the thin
    // marks (",", ".", "`") a few faint pixels. Bold and larger, they read;
    // a long caption still shrinks to its key.
    key->setStyleSheet(key->styleSheet() + QStringLiteral("QPushButton{font-size: 24px;font-weight: bold;}"));
    // The served field keeps the focus while keys are pressed.
    key->setFocusPolicy(Qt::NoFocus);
    return key;
}

const char* const kLowerRows[3] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
const char* const kUpperRows[3] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};

} // namespace

NumberKeyPad::NumberKeyPad(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    setFocusPolicy(Qt::NoFocus);
    // Pads are made per opening: closing one frees it.
    setAttribute(Qt::WA_DeleteOnClose);
    targetEdit = qobject_cast<Edit*>(parent);
    keyGroup = new QButtonGroup(this);
    static const char* const captions[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", QT_TR_NOOP("退格"), QT_TR_NOOP("确定")};
    for (int i = 0; i < 12; ++i) {
        const QRect geometry(5 + (i % 4) * 106, 5 + (i / 4) * 76, 100, 70);
        ColorButton* key = makeKey(tr(captions[i]), this, geometry);
        if (i < 10) {
            keyGroup->addButton(key, QString::fromLatin1(captions[i]).toInt());
        } else if (i == 10) {
            backKey = key;
            connect(key, &QPushButton::clicked, this, &NumberKeyPad::eraseContent);
        } else {
            okKey = key;
            connect(key, &QPushButton::clicked, this, &NumberKeyPad::HideUpdate);
        }
    }
    connect(keyGroup, &QButtonGroup::idClicked, this, &NumberKeyPad::setContent);
    resize(427, 230);
}

void NumberKeyPad::setContent(int id)
{
    QAbstractButton* key = keyGroup->button(id);
    if (!targetEdit || !key) {
        return;
    }
    targetEdit->insertKey(key->text(), replaceNext);
    replaceNext = false;
}

void NumberKeyPad::eraseContent()
{
    if (targetEdit) {
        targetEdit->backspace(&replaceNext);
    }
}

void NumberKeyPad::eraseAll()
{
    if (targetEdit) {
        targetEdit->clear();
        targetEdit->setCursorPosition(0);
    }
    replaceNext = true;
}

void NumberKeyPad::HideUpdate()
{
    Edit* served = kitHost()->servedEdit();
    if (served && served->hasFocus()) {
        // The field's focus-out closes this pad.
        served->clearFocus();
    }
    // Still here and open (the field had no focus to lose).
    if (isVisible()) {
        close();
    }
}

void NumberKeyPad::paintEvent(QPaintEvent* event)
{
    paintKeyboard(this, event);
}

NumCharInput::NumCharInput(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint);
    keyGroup = new QButtonGroup(this);
    static const char* const digitRow = "1234567890_";
    struct Row {
        int y;
        int x;
        QString captions;
    };
    const Row rows[4] = {{10, 10, QString::fromLatin1(digitRow)},
                         {80, 42, QString::fromLatin1(kLowerRows[0])},
                         {150, 62, QString::fromLatin1(kLowerRows[1])},
                         {220, 106, QString::fromLatin1(kLowerRows[2])}};
    int id = 0;
    for (const Row& row : rows) {
        for (int i = 0; i < row.captions.size(); ++i) {
            ColorButton* key = makeKey(row.captions.mid(i, 1), this, QRect(row.x + i * 70, row.y, 65, 65));
            keyGroup->addButton(key, id++);
            keys.append(key);
        }
    }
    ColorButton* symbol = makeKey(textOf(441), this, QRect(695, 150, 80, 65));
    connect(symbol, &QPushButton::clicked, this, &NumCharInput::SlotChgChar_Punc);
    ColorButton* capitals = makeKey(textOf(158), this, QRect(10, 220, 80, 65));
    connect(capitals, &QPushButton::clicked, this, &NumCharInput::SlotCap);
    ColorButton* back = makeKey(textOf(157), this, QRect(605, 220, 80, 65));
    connect(back, &QPushButton::clicked, this, &NumCharInput::eraseContent);
    ColorButton* ok = makeKey(textOf(121), this, QRect(695, 220, 80, 65));
    connect(ok, &QPushButton::clicked, this, &NumCharInput::HideUpdate);
    keys << symbol << capitals << back << ok;
    connect(keyGroup, &QButtonGroup::idClicked, this, &NumCharInput::setContent);
    resize(785, 295);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

NumCharInput::~NumCharInput() = default;

void NumCharInput::setLetterRows(const QString& row1, const QString& row2, const QString& row3)
{
    const QString all = row1 + row2 + row3;
    for (int i = 0; i < all.size() && 11 + i < 37; ++i) {
        keys[11 + i]->setText(all.mid(i, 1));
    }
}

void NumCharInput::SlotCap()
{
    if (keys[38]->text() == textOf(158)) {
        setLetterRows(QString::fromLatin1(kUpperRows[0]), QString::fromLatin1(kUpperRows[1]),
                      QString::fromLatin1(kUpperRows[2]));
        keys[37]->setText(textOf(441));
        keys[38]->setText(textOf(159));
    } else {
        setLetterRows(QString::fromLatin1(kLowerRows[0]), QString::fromLatin1(kLowerRows[1]),
                      QString::fromLatin1(kLowerRows[2]));
        keys[37]->setText(textOf(441));
        keys[38]->setText(textOf(158));
    }
}

void NumCharInput::SlotChgChar_Punc()
{
    if (keys[37]->text() == textOf(441)) {
        setLetterRows(QStringLiteral("-=[]\\;',./"), QStringLiteral("@#$%^?*()"), QStringLiteral("`~!{}:\""));
        keys[37]->setText(textOf(442));
    } else {
        setLetterRows(QString::fromLatin1(kLowerRows[0]), QString::fromLatin1(kLowerRows[1]),
                      QString::fromLatin1(kLowerRows[2]));
        keys[37]->setText(textOf(441));
    }
    keys[38]->setText(textOf(158));
}

void NumCharInput::setContent(int id)
{
    Edit* served = kitHost()->servedEdit();
    QAbstractButton* key = keyGroup->button(id);
    if (!served || !key || key->text().isEmpty()) {
        return;
    }
    served->setText(served->text() + QChar::fromLatin1(key->text().toLatin1().at(0)));
    served->setCursorPosition(served->text().size());
}

void NumCharInput::eraseContent()
{
    Edit* served = kitHost()->servedEdit();
    if (!served) {
        return;
    }
    QString text = served->text();
    text.chop(1);
    served->setText(text);
}

void NumCharInput::HideUpdate()
{
    if (isVisible()) {
        hide();
        if (parentWidget()) {
            parentWidget()->update();
        }
    }
}

void NumCharInput::showEvent(QShowEvent* event)
{
    // Every showing starts with small letters.
    keys[37]->setText(textOf(442));
    keys[38]->setText(textOf(158));
    SlotChgChar_Punc();
    QWidget::showEvent(event);
}

void NumCharInput::paintEvent(QPaintEvent* event)
{
    paintKeyboard(this, event);
}

void NumCharInput::mousePressEvent(QMouseEvent*) {}
void NumCharInput::mouseReleaseEvent(QMouseEvent*) {}

NumberInput::NumberInput(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint);
    resize(427, 230);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

NumberInput::~NumberInput() = default;

void NumberInput::setContent(int id)
{
    if (Edit* served = kitHost()->servedEdit()) {
        served->insertKey(QString::number(id), replaceNext);
        replaceNext = false;
    }
}

void NumberInput::eraseContent()
{
    if (Edit* served = kitHost()->servedEdit()) {
        served->backspace(&replaceNext);
    }
}

void NumberInput::eraseAll()
{
    if (Edit* served = kitHost()->servedEdit()) {
        served->clear();
        served->setCursorPosition(0);
    }
    replaceNext = true;
}

void NumberInput::HideUpdate()
{
    if (isVisible()) {
        hide();
        if (parentWidget()) {
            parentWidget()->update();
        }
    }
}

void NumberInput::paintEvent(QPaintEvent* event)
{
    paintKeyboard(this, event);
}

void NumberInput::mousePressEvent(QMouseEvent*) {}
void NumberInput::mouseReleaseEvent(QMouseEvent*) {}
