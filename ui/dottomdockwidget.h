#pragma once

#include <QWidget>

// The bottom bar's line with the date, the time and the cycle time.
class DottomDock_Describe_part1 : public QWidget {
    Q_OBJECT
public:
    explicit DottomDock_Describe_part1(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
