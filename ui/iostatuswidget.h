#pragma once

#include <QList>
#include <QPushButton>
#include <QWidget>

class IOStatusWidget_2;
class QString;
class QTimer;

// The board's inputs and outputs, ten of each.
constexpr int kIOChannels = 10;

// The name of input or output `index` (0 to 9) as its lamp shows it: the
// channel names for the first five, "I-6"/"O-6" onwards for the others.
QString ioChannelName(bool isInput, int index);

// One lamp of the I/O strip: a circle, green when the signal is active, red
// when not, with its name under it. It looks like a button but never acts as one.
class IOWidget_Item : public QPushButton {
    Q_OBJECT
public:
    IOWidget_Item(int index, bool isInput, IOStatusWidget_2* parent);

    bool isLit() const { return m_lit; }
    // Returns whether the state changed (the lamp is then repainted).
    bool setLit(bool lit);
    int paintCount() const { return m_paints; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_lit = false;
    bool m_isInput;
    int m_index;
    int m_paints = 0;
};

// The machine's inputs and outputs as lamps, polled from the I/O controller.
class IOStatusWidget_2 : public QWidget {
    Q_OBJECT
public:
    explicit IOStatusWidget_2(QWidget* parent = nullptr);

    const QList<IOWidget_Item*>& inputLamps() const { return m_inputs; }
    const QList<IOWidget_Item*>& outputLamps() const { return m_outputs; }
    QTimer* refreshTimer() const { return m_timer; }

public slots:
    void refresh();

private:
    void poll();

    QList<IOWidget_Item*> m_inputs;
    QList<IOWidget_Item*> m_outputs;
    QTimer* m_timer;
};
