#pragma once

#include <QPointer>
#include <QWidget>

class ColorButton;
class Edit;
class QButtonGroup;

// The number pad made for one number field each time it is released. Closing
// it frees it.
class NumberKeyPad : public QWidget {
    Q_OBJECT
public:
    explicit NumberKeyPad(QWidget* parent = nullptr);

    bool replaceNext = true;
    QButtonGroup* keyGroup = nullptr;
    ColorButton* okKey = nullptr;
    ColorButton* backKey = nullptr;
    QPointer<Edit> targetEdit;

public slots:
    void setContent(int id);
    void eraseContent();
    void eraseAll();
    void HideUpdate();

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The shared QWERTY keyboard; it types into the served field.
class NumCharInput : public QWidget {
    Q_OBJECT
public:
    explicit NumCharInput(QWidget* parent = nullptr);
    ~NumCharInput() override;

    QButtonGroup* keyGroup = nullptr;
    QList<ColorButton*> keys; // 41 keys: 0 to 36 characters, 37 symbol, 38 capitals, 39 backspace, 40 OK

public slots:
    void SlotChgChar_Punc();
    void setContent(int id);
    void eraseContent();
    void HideUpdate();
    void SlotCap();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setLetterRows(const QString& row1, const QString& row2, const QString& row3);
};

// The shared, never shown number keyboard; it empties the served field.
class NumberInput : public QWidget {
    Q_OBJECT
public:
    explicit NumberInput(QWidget* parent = nullptr);
    ~NumberInput() override;

    bool replaceNext = true;

signals:
    void chkpassword();

public slots:
    void setContent(int id);
    void eraseContent();
    void eraseAll();
    void HideUpdate();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// Null while there is none; a destroyed keyboard leaves null behind.
extern QPointer<NumberInput> gpNumberInput;
extern QPointer<NumCharInput> gpNumCharInput;
extern QPointer<NumberKeyPad> gpNumKeyPad;
