#pragma once

#include <QDialog>

class Edit;

// The fixed part of the administrator code; with password protection on, the
// month, day and hour of the moment OK is pressed follow it.
extern const char adminCode[];

// The password box: the operator password gives level 1, the administrator
// code level 2; a wrong entry sets level 0 and keeps the box open.
class inputbox : public QDialog {
    Q_OBJECT
public:
    explicit inputbox(int editFlags, QWidget* parent = nullptr);

    // Runs the box modally; where a test has installed a password entry
    // handler, its entries are checked in place of the operator's typing.
    int exec() override;

    Edit* passwordEdit = nullptr;

public slots:
    void accept() override;
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The code that gives level 2 at the given moment.
QString administratorCodeAt(const QDateTime& now);
