#pragma once

#include "ccomp_dialogframe.h"
#include "systemcounts.h"

#include <QList>

#include <functional>

class ColorButton;
class ComboBox;
class QLabel;

// Lets the operator move every camera to another screen position. The rows
// edit a copy of the order: gCameraOrder, which every later save of the
// serial numbers reads, takes the choice only once it is free of duplicates
// and stored in SN.db, so a dialog closed without confirming changes nothing.
class WidgetChangeCamera : public CComp_DialogFrame {
    Q_OBJECT
public:
    // The power question after a successful save; the settings dialog passes
    // its power-off sequence.
    using PowerOffStep = std::function<void()>;

    explicit WidgetChangeCamera(QWidget* parent, PowerOffStep powerOff = {});

    // One label and one choice list per camera, in screen order.
    QList<QLabel*> rowLabels;
    QList<ComboBox*> rowLists;
    ColorButton* confirmButton = nullptr;

    // The chosen new position (0-based) of the camera now shown at position k.
    qint32 chosenPosition(int k) const { return m_order[k]; }

public slots:
    void onRowChanged(int row, int index);
    void onOkClicked();

private:
    qint32 m_order[MaxCameras] = {0, 1, 2, 3, 4, 5, 6, 7};
    int m_cameras = 0;
    PowerOffStep m_powerOff;
};
