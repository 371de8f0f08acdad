#pragma once

#include <QAbstractSlider>

class ColorButton;
class Edit;

// Touch-sized horizontal value control: name, value box, pixmap bar with a
// draggable handle and "- 1" / "+ 1" buttons; a tap on the value box opens
// the number pad.
class QPainter;

class Slider : public QAbstractSlider {
    Q_OBJECT
public:
    Slider(int min, int max, int step, int value, QWidget* parent = nullptr, QString name = QString());

    void setParam(int min, int max, int step, int value, QString name);

    ColorButton* plusButton = nullptr;
    ColorButton* minusButton = nullptr;
    Edit* valueEdit = nullptr;
    int trackWidth = 0;
    int trackMargin = 0;
    int barRange = 0;
    int handleRect[4] = {0, 0, 0, 0};
    int dragPos[2] = {-1, -1};

public slots:
    void Add();
    void Sub();
    void SetText(QString text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int fillWidth() const;
    void drawName(QPainter& painter, const QRect& place, const QFont& font) const;
};
