#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QWidget>

class QTableView;

// One row of a camera's result table: an area of the detect just inspected.
struct CameraReportForm_Item {
    int index = 0;          // area number, counted from 1
    QString toolName;       // display name of the area's detection function
    double lower = 0.0;
    double upper = 0.0;
    double value = 0.0;     // measured value of the last inspection
    bool ok = true;
};

class CameraReportForm_Model : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CameraReportForm_Model(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Replaces the rows as a whole (a model reset).
    void setItems(const QList<CameraReportForm_Item>& items);
    const QList<CameraReportForm_Item>& items() const { return m_items; }

private:
    QList<CameraReportForm_Item> m_items;
};

// The read-only result table beside or under a camera's view.
class CameraReportForm : public QWidget {
    Q_OBJECT
public:
    explicit CameraReportForm(QWidget* parent = nullptr);

    void setReportItems(const QList<CameraReportForm_Item>& items);
    QTableView* tableView() const { return m_view; }
    CameraReportForm_Model* model() const { return m_model; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CameraReportForm_Model* m_model;
    QTableView* m_view;
};
