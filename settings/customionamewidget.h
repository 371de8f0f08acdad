#pragma once

#include "ccomp_dialogframe.h"

class QListWidget;

// The I/O naming dialog: the board's ten inputs and ten outputs by the names
// the I/O lamps of the bottom dock carry.
class CustomIONameWidget : public CComp_DialogFrame {
    Q_OBJECT
public:
    explicit CustomIONameWidget(QWidget* parent = nullptr);

    QListWidget* inputList = nullptr;
    QListWidget* outputList = nullptr;

public slots:
    // Fills both lists afresh from the current channel names.
    void loadNames();
};
