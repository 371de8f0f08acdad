#include "recordwidget.h"

#include "colorbutton.h"
#include "inputbox.h"
#include "kithost.h"
#include "operationlog.h"
#include "operatorprompt.h"
#include "screenstate.h"
#include "settingshost.h"
#include "texttable.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QRegularExpression>
#include <QSqlTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {
const char* const kListConnection = "dbList";
constexpr int kTextClearQuestion = 297;
constexpr int kTextCleared = 298;
constexpr int kTextClearButton = 697;

// Shows the stored operation times as times; the table keeps its text.
class RecordTimeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override
    {
        if (value.type() == QVariant::String) {
            return shownRecordTime(value.toString());
        }
        return QStyledItemDelegate::displayText(value, locale);
    }
};
} // namespace

QString shownRecordTime(const QString& stored)
{
    // The log stores "07.50.34", dots where the clock has colons.
    static const QRegularExpression dotted(QStringLiteral("^(\\d{2})\\.(\\d{2})\\.(\\d{2})$"));
    const QRegularExpressionMatch m = dotted.match(stored);
    if (!m.hasMatch()) {
        return stored;
    }
    return QStringLiteral("%1:%2:%3").arg(m.captured(1), m.captured(2), m.captured(3));
}

RecordWidget::RecordWidget(QWidget* owner)
    : TabParamWidget(owner)
{
    setFont(QFont(QStringLiteral("SimHei"), 25));
    tableView = new QTableView(this);
    tableView->setItemDelegateForColumn(0, new RecordTimeDelegate(tableView));
    tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    dayList = new QListWidget(this);
    dayList->setFixedWidth(200);
    dayList->setStyleSheet(QStringLiteral("QListView{background: #353D45;border: 1px solid #707070;}"
                                          "QListView::item{height: 40px;padding-left: 20px;}"));
    const QString name = QString::fromLatin1(kListConnection);
    dbList = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    clearButton = new ColorButton(textOf(kTextClearButton), this, 1);
    clearButton->setObjectName(QStringLiteral("clearRecordButton"));
    clearButton->setFixedSize(200, 60);
    auto* days = new QVBoxLayout;
    days->setSpacing(10);
    days->addWidget(dayList, 1);
    days->addWidget(clearButton);
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(0);
    layout->addLayout(days);
    layout->addWidget(tableView);
    connect(dayList, &QListWidget::itemClicked, this, &RecordWidget::UpdateRecord);
    connect(clearButton, &QPushButton::clicked, this, &RecordWidget::SlotClearRecord);
}

RecordWidget::~RecordWidget()
{
    tableView->setModel(nullptr);
    delete model;
    model = nullptr;
    dbList.close();
    dbList = QSqlDatabase();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kListConnection));
}

void RecordWidget::showEvent(QShowEvent* event)
{
    dayList->clear();
    dayList->addItem(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    const QStringList days =
        QDir(OperationLog::archiveDir()).entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Name);
    for (int i = days.size() - 1; i >= 0; --i) {
        QString day = days[i];
        day.chop(3);
        dayList->addItem(day);
    }
    dayList->setCurrentRow(0);
    UpdateRecord(dayList->item(0));
    TabParamWidget::showEvent(event);
}

void RecordWidget::UpdateRecord(QListWidgetItem* item)
{
    tableView->setModel(nullptr);
    delete model;
    model = nullptr;
    // Only today's file is ever emptied; an archived day is a record kept.
    clearButton->setVisible(dayList->currentRow() <= 0 || item == nullptr);
    if (dayList->currentRow() == 0 || item == nullptr) {
        model = new QSqlTableModel(this, QSqlDatabase::database(settingsHost()->recordConnectionName(), false));
    } else {
        // An archived day is only read: a file that has gone shows an empty
        // table and is not made again (it would be listed from then on).
        const QString path = QStringLiteral("%1//%2.db").arg(QDir(OperationLog::archiveDir()).absolutePath(),
                                                              item->text());
        dbList.close();
        dbList.setDatabaseName(path);
        dbList.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (QFileInfo(path).isFile()) {
            dbList.open();
        }
        model = new QSqlTableModel(this, dbList);
    }
    model->setEditStrategy(QSqlTableModel::OnManualSubmit);
    model->setTable(QStringLiteral("RECORD"));
    model->setSort(0, Qt::DescendingOrder);
    model->select();
    model->setHeaderData(0, Qt::Horizontal, textOf(288));
    model->setHeaderData(1, Qt::Horizontal, textOf(289));
    model->setHeaderData(2, Qt::Horizontal, textOf(290));
    tableView->setModel(model);
    tableView->verticalHeader()->hide();
    tableView->setColumnWidth(0, 267);
    tableView->setColumnWidth(1, 250);
    tableView->setColumnWidth(2, 1030);
    tableView->setAlternatingRowColors(true);
    tableView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tableView->horizontalHeader()->setSectionsClickable(false);
    tableView->verticalHeader()->setDefaultSectionSize(50);
    tableView->setStyleSheet(QStringLiteral(
        "QTableView{color: white;background-color: #262E34;alternate-background-color: #3D4449;font-size: 20px;}"
        "QTableView::item{padding-left: 10px;border: 1px solid #707070;}"
        "QHeaderView::section{font-size: 18px;color: #2687F2;background-color: rgba(38, 135, 242, 0.5);"
        "height: 40px;opacity: 0.2;}"));
}

void RecordWidget::SlotClearRecord()
{
    if (screenState().userLevel() != UserAdmin) {
        inputbox box(1, nullptr);
        box.exec();
        if (screenState().userLevel() != UserAdmin) {
            return;
        }
    }
    if (askOperator(textOf(kTextClearQuestion)) != 1) {
        return;
    }
    SettingsHost* host = settingsHost();
    host->clearRecord();
    // The empty log begins with who emptied it.
    host->insertRecord(textOf(kTextCleared));
    dayList->setCurrentRow(0);
    UpdateRecord(dayList->item(0));
}
