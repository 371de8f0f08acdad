#pragma once

#include <QDialog>

// The system parameter dialog: edits gpSystemParamEdit and applies it itself.
// Made anew, run modally and destroyed by the main window's settings button.
class SystemParamDialog : public QDialog {
    Q_OBJECT
public:
    explicit SystemParamDialog(QWidget* parent = nullptr);
};
