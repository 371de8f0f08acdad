#pragma once

#include <QWidget>

class QLabel;

// A page of the settings dialog: it fills its controls from the edit record
// and writes them back into it; the dialog's OK applies the record.
class TabParamWidget : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    virtual void loadParams() = 0;
    virtual void storeParams() = 0;
};

// The blue "· title" heading that opens each section of a page.
QLabel* sectionHeading(const QString& title, QWidget* parent);
