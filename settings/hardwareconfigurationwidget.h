#pragma once

#include <QWidget>

// The hardware configuration screen: built by the main window and kept
// hidden; it has nothing to configure on this panel.
class HardwareConfigurationWidget : public QWidget {
    Q_OBJECT
public:
    explicit HardwareConfigurationWidget(QWidget* parent = nullptr);
};
