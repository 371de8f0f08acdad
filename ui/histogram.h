#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>

// The bar chart of the production statistics: an OK and an NG bar per time
// bucket with the bucket's start and end under it, the buckets split over
// two rows so that a day's 24 hours fit across the panel.
class Histogram : public QWidget {
    Q_OBJECT
public:
    Histogram(QWidget* parent, QStringList startLabels, QStringList endLabels, QList<int> ok, QList<int> ng);

    // Takes the records service's current bucket labels.
    void setLabels();
    bool setData(QList<int> ok, QList<int> ng);

    QList<int> ok;
    QList<int> ng;
    QStringList startLabels;
    QStringList endLabels;
    int barCount = 0;
    int maxValue = 0;

signals:
    void finishDraw();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void recount();
};
