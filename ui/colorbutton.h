#pragma once

#include <QComboBox>
#include <QPixmap>
#include <QPushButton>

class QAbstractButton;
class QListView;

// Flat coloured push button: red for cancelling (kind 1), blue for the rest.
class ColorButton : public QPushButton {
    Q_OBJECT
public:
    ColorButton(QString text, QWidget* parent = nullptr, int kind = 0);
    // A picture button; its owner styles or draws the picture.
    ColorButton(QPixmap pixmap, QWidget* parent = nullptr);

    int isImage = 0;
    QPixmap pixmap;
};

// Touch combo box: takes no focus, ignores the wheel and reports presses.
class ComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent = nullptr);

    void setItemFont(QFont f);
    void setItemHeight(int px);

    QListView* listView = nullptr;

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Two-state button: blue when on, red when off.
class customButton : public QPushButton {
    Q_OBJECT
public:
    explicit customButton(QWidget* parent = nullptr);
};

// Step buttons repeat while held: first after 300 ms, then every 50 ms.
void setButtonAutoRepeat(QAbstractButton* b);
