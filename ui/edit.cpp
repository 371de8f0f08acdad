#include "edit.h"

#include "captionfit.h"
#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "globals.h"
#include "kithost.h"
#include "numberkeypad.h"
#include "texttable.h"

#include <QApplication>
#include <QDebug>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include <algorithm>
#include <climits>

namespace {

int clampToInt(qint64 v)
{
    return int(std::max<qint64>(INT_MIN, std::min<qint64>(INT_MAX, v)));
}

QString stepCaption(const char* sign, int amount, int scale)
{
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(sign), QString::number(double(amount) / scale, 'g', 6));
}

} // namespace

Edit::Edit(int flags, QWidget* parent, int style)
    : QLineEdit(parent)
    , editFlags(flags)
{
    validator = new QIntValidator(this);
    if (style == 1) {
        C_Type_COM().setRoundedEditStyle(this, 2);
    }
    if (editFlags & IntegerInput) {
        setValidator(validator);
    }
    connect(this, &QLineEdit::textChanged, this, &Edit::SlotRange);
    setStyleSheet(QStringLiteral("QLineEdit{background-color: white;color: black;}"));
}

void Edit::insertKey(const QString& key, bool replace)
{
    if (key.isEmpty()) {
        return;
    }
    const QChar c = QChar::fromLatin1(key.toLatin1().at(0));
    setText(replace ? QString(c) : text() + c);
    setCursorPosition(text().size());
}

void Edit::backspace(bool* replace)
{
    QString t = text();
    t.chop(1);
    setText(t);
    if (t.isEmpty() && replace) {
        *replace = true;
    }
    setCursorPosition(text().size());
}

void Edit::setValue(int v)
{
    setText(QString::number(v));
}

int Edit::value() const
{
    return text().toInt();
}

NumberKeyPad* Edit::openPad() const
{
    return padOpen ? qobject_cast<NumberKeyPad*>(keypad.data()) : nullptr;
}

void Edit::SlotRange(QString t)
{
    if (rangeMin == -1 || rangeMax == -1) {
        return;
    }
    if (rangeMax < rangeMin) {
        std::swap(rangeMin, rangeMax);
    }
    bool ok = false;
    const int n = t.toInt(&ok);
    if (ok && !keepsOutOfRange(n)) {
        const QString clamped = QString::number(std::max(rangeMin, std::min(rangeMax, n)));
        if (clamped != t) {
            setText(clamped);
        }
    }
}

bool Edit::event(QEvent* e)
{
    if (!gpNumCharInput || !gpNumberInput) {
        // A keyboard re-parented into a window went with that window.
        if (!gpNumberInput) {
            gpNumberInput = new NumberInput(nullptr);
        }
        if (!gpNumCharInput) {
            gpNumCharInput = new NumCharInput(nullptr);
        }
        if (!gpNumKeyPad) {
            gpNumKeyPad = new NumberKeyPad(nullptr);
        }
        return QLineEdit::event(e);
    }
    switch (e->type()) {
    case QEvent::FocusIn:
        if (echoMode() == QLineEdit::Password) {
            clear();
            clearFocus();
            setPlaceholderText(textOf(125));
        }
        kitHost()->setServedEdit(this);
        break;
    case QEvent::FocusOut:
        kitHost()->setServedEdit(nullptr);
        gpNumCharInput->hide();
        gpNumberInput->hide();
        if (gpNumKeyPad) {
            qInfo() << "gpNumKeyPad is closed";
            NumberKeyPad* pad = gpNumKeyPad;
            gpNumKeyPad = nullptr;
            pad->close();
        }
        padOpen = 0;
        emit focusOut();
        break;
    case QEvent::MouseButtonRelease:
        if (kitHost()->servedEdit()) {
            openKeyboard();
        }
        break;
    default:
        break;
    }
    return QLineEdit::event(e);
}

void Edit::openKeyboard()
{
    QWidget* board = nullptr;
    if (editFlags & LetterKeyboard) {
        keypad = gpNumCharInput.data();
        board = keypad;
    } else {
        if (gpNumKeyPad && padOpen == 0) {
            NumberKeyPad* other = gpNumKeyPad;
            gpNumKeyPad = nullptr;
            other->close();
        }
        if (padOpen == 0 || !keypad) {
            auto* pad = new NumberKeyPad(this);
            keypad = pad;
            gpNumKeyPad = pad;
            padOpen = 1;
        } else if (NumberKeyPad* pad = openPad()) {
            // The field is emptied below: the next digit starts a new entry.
            pad->replaceNext = true;
        }
        board = keypad;
        if (gpNumberInput) {
            gpNumberInput->eraseAll();
        }
    }
    if (!board) {
        return;
    }

    QWidget* parent = parentWidget();
    QWidget* grandparent = parent ? parent->parentWidget() : nullptr;
    int x = this->x();
    int below = y() + height() + 5;
    QWidget* container = parent;
    if ((editFlags & PlaceInParent) && grandparent) {
        x += parent->x();
        below += parent->y();
        container = grandparent;
    } else if ((editFlags & PlaceInGrandparent) && grandparent && grandparent->parentWidget()) {
        x += parent->x() + grandparent->x();
        below += parent->y() + grandparent->y();
        container = grandparent->parentWidget();
    }
    if (!container) {
        // A field on a window of its own: its pop-up goes beside it on the screen.
        const QPoint global = mapToGlobal(QPoint(0, height() + 5));
        board->setParent(nullptr, board->windowFlags() | Qt::Tool);
        board->move(placeOnScreen(global, board->size()));
        board->show();
        board->raise();
        return;
    }
    const int w = board->width();
    const int h = board->height();
    if (x + w > container->width()) {
        x = container->width() - w;
    }
    int y = below;
    if (below + h > gScreenHeight - 50) {
        y = below - 45 - h;
    }
    if (y + h > container->height()) {
        y = container->height() - h;
    }
    if (board->parentWidget() != container) {
        board->setParent(container);
    }
    QPoint at = (y + h < container->height()) ? QPoint(x, y) : QPoint(x, below - h - height() - 10);
    // A container smaller than the keyboard: keep its top-left corner inside.
    at = QPoint(std::max(at.x(), 0), std::max(at.y(), 0));
    board->move(at);
    board->show();
    board->raise();
}

void Edit::keyPressEvent(QKeyEvent* e)
{
    const int key = e->key();
    if (key == 46 || key == 13) {
        emit sig_Dot();
    }
    if (key == Qt::Key_Return) {
        if (gpNumCharInput && gpNumCharInput->isVisible()) {
            gpNumCharInput->HideUpdate();
        } else if (gpNumberInput && gpNumberInput->isVisible()) {
        } else {
            QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QApplication::sendEvent(this, &release);
        }
    }
    const bool digit = key >= Qt::Key_0 && key <= Qt::Key_9;
    if (!isPasswordField) {
        if (digit || key == Qt::Key_Backspace) {
            emit sig_keyPress(digit ? key - Qt::Key_0 : -1);
            QWidget::keyPressEvent(e);
            return;
        }
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (digit) {
        setText(text() + QChar('0' + (key - Qt::Key_0)));
        setCursorPosition(text().size());
        if (NumberKeyPad* pad = openPad()) {
            pad->replaceNext = false;
        }
        return;
    }
    QLineEdit::keyPressEvent(e);
}

EditParam::EditParam(int flags, QString unitText, EditBox* box)
    : Edit(flags, box, 1)
    , owner(box)
{
    if (!unitText.isEmpty()) {
        unitLabel = new QLabel(unitText, this);
        unitLabel->setFixedSize(unitText.size() * charWidth + 10, 35);
        unitLabel->setAlignment(Qt::AlignCenter);
        unitLabel->setStyleSheet(QStringLiteral(
            "color: #1A6BC4;font-family: SimHei;font-size: 18px;background-color: transparent"));
        const QMargins margins = textMargins();
        setTextMargins(margins.left(), margins.top(), unitLabel->width(), margins.bottom());
        connect(this, &QLineEdit::textChanged, this, &EditParam::ChangeLabelP);
        ChangeLabelP(unitText);
    }
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignCenter);
}

void EditParam::ChangeLabelP(QString t)
{
    if (!unitLabel) {
        return;
    }
    const int n = t.size();
    unitLabelX = (int(n * 27 * 0.5) + width() - unitLabel->width()) / 2;
    unitLabel->move(unitLabelX, (height() - unitLabel->height()) / 2);
}

void EditParam::insertKey(const QString& key, bool replace)
{
    if (!owner) {
        return;
    }
    const int digit = key.toInt();
    owner->curValue = replace ? digit : clampToInt(qint64(owner->curValue) * 10 + digit);
    owner->CheckRange();
}

void EditParam::backspace(bool*)
{
    if (!owner) {
        return;
    }
    owner->curValue /= 10;
    owner->CheckRange();
}

bool EditParam::keepsOutOfRange(int n) const
{
    return n == 0 && owner && owner->allowZero;
}

void EditParam::focusInEvent(QFocusEvent* e)
{
    Edit::focusInEvent(e);
}

void EditParam::focusOutEvent(QFocusEvent* e)
{
    emit focusOut();
    Edit::focusOutEvent(e);
}

EditBox::EditBox(int min, int max, QWidget* parent, QString caption, QString unitText, int type, int stepScale)
    : QWidget(parent)
    , minValue(min)
    , maxValue(max)
    , curValue(min)
    // A scale of 0 would divide by nothing; such a box counts in units.
    , scale(stepScale > 0 ? stepScale : 1)
    , displayType(type)
    , labelText(caption)
{
    label = new QLabel(labelText, this);
    label->setFixedSize(120, 50);
    label->setFont(QFont(QStringLiteral("SimHei"), 27));
    // The camera page's boxes may float over the live picture, where yellow
    // on bright metal cannot be read: the caption has a dark veil of its own
    // (barely seen on the dark pages).
    label->setStyleSheet(QStringLiteral("color: yellow;background-color: rgba(0, 0, 0, 160);border-radius: 4px;"));
    label->setAlignment(Qt::AlignCenter);
    CaptionFit::watch(label);

    auto makeStep = [this](const char* sign, int amount, void (EditBox::*slot)()) {
        auto* button = new ColorButton(stepCaption(sign, amount, scale), this, 0);
        button->setFixedSize(130, 50);
        setButtonAutoRepeat(button);
        connect(button, &QPushButton::clicked, this, slot);
        return button;
    };
    subFiveButton = makeStep("-", 5, &EditBox::SubFive);
    subOneButton = makeStep("-", 1, &EditBox::SubOne);
    addOneButton = makeStep("+", 1, &EditBox::AddOne);
    addFiveButton = makeStep("+", 5, &EditBox::AddFive);

    edit = new EditParam(9, unitText, this);
    edit->setFixedSize(150, 50);
    edit->setFrame(true);
    edit->setFont(QFont(QStringLiteral("SimHei"), 27));
    edit->rangeMin = min;
    edit->rangeMax = max;
    edit->validator->setRange(min, max);
    connect(edit, &Edit::sig_keyPress, this, &EditBox::keyBoardValue);
    connect(edit, &Edit::focusOut, this, &EditBox::CheckRange);

    layout = new QHBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(subFiveButton);
    layout->addWidget(subOneButton);
    layout->addWidget(edit);
    layout->addWidget(addOneButton);
    layout->addWidget(addFiveButton);
    layout->setSpacing(10);
    layout->setContentsMargins(40, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void EditBox::setAllowZero(bool allow)
{
    allowZero = allow;
}

void EditBox::setRange(int min, int max)
{
    minValue = min;
    maxValue = max;
    edit->rangeMin = min;
    edit->rangeMax = max;
    edit->validator->setRange(min, max);
}

void EditBox::step(qint64 delta)
{
    curValue = clampToInt(qint64(curValue) + delta);
    CheckRange();
}

void EditBox::AddOne() { step(1); }
void EditBox::SubOne() { step(-1); }
void EditBox::AddFive() { step(5); }
void EditBox::SubFive() { step(-5); }

int EditBox::value()
{
    return curValue;
}

void EditBox::setValue(int v)
{
    curValue = v;
    CheckRange();
}

void EditBox::keyBoardValue(int key)
{
    NumberKeyPad* pad = edit->openPad();
    qInfo() << "key into value box, pad replaces:" << (pad ? pad->replaceNext : false);
    // With no pad open the digit extends the value shown.
    const qint64 base = (pad && pad->replaceNext) ? 0 : curValue;
    if (key >= 0 && key <= 9) {
        curValue = clampToInt(base * 10 + key);
    } else if (key == -1) {
        curValue = int(base / 10);
    }
    CheckRange();
    if (pad) {
        pad->replaceNext = false;
    }
}

void EditBox::CheckRange()
{
    if (curValue < minValue) {
        if (!(allowZero && curValue == 0)) {
            curValue = minValue;
        }
    } else if (curValue > maxValue) {
        curValue = maxValue;
    }
    if (displayType == 0) {
        edit->setText(QString::number(curValue));
    } else if (displayType == 2) {
        edit->setText(QString::number(double(curValue) / scale, 'g', 6));
    }
    emit valueChanged(curValue);
}

void EditBox::setText(QString text)
{
    label->setText(text);
}

CheckBox::CheckBox(QWidget* parent, QString text)
    : QCheckBox(text, parent)
{
    QPalette p = palette();
    p.setColor(QPalette::All, QPalette::WindowText, Qt::yellow);
    setPalette(p);
    setFont(QFont(QStringLiteral("SimHei"), 28));
    CaptionFit::watch(this);
}

QSize CheckBox::minimumSizeHint() const
{
    QSize size = QCheckBox::minimumSizeHint();
    QFont small = font();
    small.setPixelSize(CaptionFit::MinPixelSize);
    const int fullText = fontMetrics().horizontalAdvance(text());
    const int smallText = QFontMetrics(small).horizontalAdvance(text());
    size.setWidth(std::max(size.width() - fullText + smallText, 0));
    return size;
}

void CheckBox::setValue(int v)
{
    setCheckState(v != 0 ? Qt::Checked : Qt::Unchecked);
}

int CheckBox::value() const
{
    return checkState() == Qt::Checked ? 1 : 0;
}
