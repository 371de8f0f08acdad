#pragma once

#include "tabparamwidget.h"

#include <QSqlDatabase>

class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSqlTableModel;
class QTableView;

// A stored operation time ("07.50.34") as the table shows it ("07:50:34");
// any other text as it is.
QString shownRecordTime(const QString& stored);

// The operation log: today's table or one archived day, newest entry first.
class RecordWidget : public TabParamWidget {
    Q_OBJECT
public:
    explicit RecordWidget(QWidget* owner);
    ~RecordWidget() override;

    void loadParams() override {}
    void storeParams() override {}

    QTableView* tableView = nullptr;
    QSqlTableModel* model = nullptr;
    QListWidget* dayList = nullptr;
    // Empties today's log; offered while today is shown.
    QPushButton* clearButton = nullptr;
    QSqlDatabase dbList;

public slots:
    void UpdateRecord(QListWidgetItem* item);
    // Administrator only (the password box asks for the code whoever opened
    // the settings), after confirmation; the clearing itself is logged.
    void SlotClearRecord();

protected:
    void showEvent(QShowEvent* event) override;
};
