#pragma once

#include <QWidget>

// The area panel of the menu column (page 1). This one keeps only what the
// main window and the cycle call: entering and leaving area mode and the
// picture picker's choices; the editing itself is not here.
class DrawROIWidget : public QWidget {
    Q_OBJECT
public:
    explicit DrawROIWidget(QWidget* parent = nullptr);

    void EnterAreaMode(bool toggleOp);
    void LeaveAreaMode();

    // What was chosen last, for the callers that ask.
    int source = 0;
    int camera = 0;
    int detect = 0;
    int templateIndex = 0;
    int enterCount = 0;

signals:
    void recentNgImg(const QString& imgInfo);

public slots:
    void SlotChangeSource(int source);
    void SlotChangeCamera(int camera);
    void SlotChangeDetect(int detect);
    void SlotTempList(int index);
};
