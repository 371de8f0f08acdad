#pragma once

#include <QDialog>
#include <QPointer>
#include <QPushButton>

// "确定" of the boxes.
class okbtn : public QPushButton {
    Q_OBJECT
public:
    explicit okbtn(QWidget* parent = nullptr);
};

// "取消" of the boxes.
class cancelbtn : public QPushButton {
    Q_OBJECT
public:
    explicit cancelbtn(QWidget* parent = nullptr);
};

// The warning box: a text under a warning sign and a close button.
class Warnbox : public QDialog {
    Q_OBJECT
public:
    explicit Warnbox(QWidget* parent = nullptr);

    // Also sizes the box: 600 x 420 when the text fits under the sign, wider
    // and then taller (centred, within the screen) when it does not.
    void setMessage(const QString& text);
    void setStaysOnTop(bool onTop);

    QString message;
    QPushButton* closeButton = nullptr;

public slots:
    virtual void acceptDialog();

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The large message box: 750 × 370, a text under a warning sign and one
// confirm button. Shown while the screen is dark, it switches the backlight
// on: a message nobody can see has not been given.
class WarnBox : public QDialog {
    Q_OBJECT
public:
    explicit WarnBox(QWidget* parent = nullptr);

    void setMessage(const QString& text);

    QString message;
    QPushButton* confirmButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// The question box: a text with OK, OK and Cancel, or no button. A modal run
// returns 1 when the operator confirmed.
class tipbox : public QDialog {
    Q_OBJECT
public:
    tipbox(int buttons, QWidget* parent = nullptr, int width = 600, int height = 420);

    // A 600 x 420 box grows for a text that does not fit above its buttons,
    // as the warning box does.
    void setMessage(const QString& text);

    QString message;

public slots:
    virtual void acceptDialog();
    virtual void rejectDialog();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize m_ownSize;
};

// The shared boxes. The warning box is made on first use by the prompt
// handlers when the main window has not made it.
extern QPointer<Warnbox> gpWarnbox;
extern QPointer<tipbox> gpTipbox;

// Installs the kit's handlers for warnOperator and askOperator: a question
// runs a new question box modally and frees it; a warning runs the shared
// warning box (a box of its own while the shared one is open).
void installKitPromptHandlers();
