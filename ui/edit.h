#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class ColorButton;
class EditBox;
class NumberKeyPad;
class QHBoxLayout;
class QIntValidator;
class QLabel;

// The touch line edit: it registers itself as the served field when it gets
// the focus and, released after a touch, opens its on-screen keyboard below
// it (above when there is no room) inside the window that holds it.
class Edit : public QLineEdit {
    Q_OBJECT
public:
    // Bits of editFlags.
    enum { IntegerInput = 1, LetterKeyboard = 2, PlaceInParent = 8, PlaceInGrandparent = 16 };

    Edit(int editFlags, QWidget* parent = nullptr, int style = 0);

    virtual void insertKey(const QString& key, bool replace);
    virtual void backspace(bool* replace);

    void setValue(int v);
    int value() const;

    // The number pad this field opened while it is open, else null.
    NumberKeyPad* openPad() const;

    int editFlags = 0;
    QPointer<QWidget> keypad;
    QIntValidator* validator = nullptr;
    int rangeMin = -1;
    int rangeMax = -1;
    int padOpen = 0;
    bool isPasswordField = false;

signals:
    void sig_Dot();
    void sig_keyPress(int keyNum);
    void focusOut();

public slots:
    void SlotRange(QString text);

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    // A value the range check lets stand although it lies outside the range.
    virtual bool keepsOutOfRange(int) const { return false; }

private:
    void openKeyboard();
};

// The field of a value box: keys change the box's value.
class EditParam : public Edit {
    Q_OBJECT
public:
    EditParam(int editFlags, QString unitText, EditBox* owner);

    void insertKey(const QString& key, bool replace) override;
    void backspace(bool* replace) override;

    EditBox* owner = nullptr;
    QLabel* unitLabel = nullptr;
    int charWidth = 16;
    int unitLabelX = 0;

public slots:
    void ChangeLabelP(QString text);

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    // The box's 0 stands when it allows 0 below its minimum.
    bool keepsOutOfRange(int n) const override;
};

// A labelled integer value with four step buttons; every change is clamped
// into the range and announced.
class EditBox : public QWidget {
    Q_OBJECT
public:
    EditBox(int min, int max, QWidget* parent = nullptr, QString labelText = QString(),
            QString unitText = QString(), int displayType = 0, int scale = 1);

    void setAllowZero(bool allow);
    void setRange(int min, int max);

    EditParam* edit = nullptr;
    ColorButton* addOneButton = nullptr;
    ColorButton* subOneButton = nullptr;
    ColorButton* addFiveButton = nullptr;
    ColorButton* subFiveButton = nullptr;
    QLabel* label = nullptr;
    QHBoxLayout* layout = nullptr;
    int minValue = 0;
    int maxValue = 0;
    int curValue = 0;
    bool allowZero = false;
    int scale = 1;
    int displayType = 0;
    QString labelText;

signals:
    void valueChanged(int value);

public slots:
    void AddOne();
    void SubOne();
    void AddFive();
    void SubFive();
    int value();
    void setValue(int v);
    void keyBoardValue(int key);
    void CheckRange();
    void setText(QString text);

private:
    void step(qint64 delta);
};

// The kit's check box: yellow caption, large font.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    CheckBox(QWidget* parent = nullptr, QString text = QString());

    void setValue(int v);
    int value() const;

    // A column narrower than the caption takes the box too: its caption is
    // then drawn smaller (down to the kit's smallest caption size).
    QSize minimumSizeHint() const override;
};
