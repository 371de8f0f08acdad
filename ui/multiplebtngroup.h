#pragma once

#include <QWidget>

// The row of camera buttons in a camera tile's title: one per camera and,
// with more than one camera, one for all of them (id -1).
class MultipleBtnGroup : public QWidget {
    Q_OBJECT
public:
    explicit MultipleBtnGroup(int count, QWidget* parent = nullptr);

    // Enlarges and disables the tile's own camera button.
    void markButton(int index);

signals:
    // The camera chosen: 0 to count - 1, or -1 for all cameras.
    void buttonClicked(int id);
};
