#pragma once

#include <QWidget>

// The full settings screen. The main window builds it once and keeps it
// hidden: every setting the operator changes is reached through the system
// parameter dialog, so this screen carries no controls of its own.
class WizardParaWidget : public QWidget {
    Q_OBJECT
public:
    explicit WizardParaWidget(QWidget* parent = nullptr);
};
