#include "camerareportform.h"

#include <algorithm>

#include "ccomp_dialogframe.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <QTableView>
#include <QVBoxLayout>

CameraReportForm_Model::CameraReportForm_Model(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int CameraReportForm_Model::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_items.size();
}

int CameraReportForm_Model::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 6;
}

QVariant CameraReportForm_Model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) {
        return QVariant();
    }
    if (orientation == Qt::Vertical) {
        return section;
    }
    static const char* const names[] = {"序号", "检测工具", "下限", "上限", "检测值", "结果"};
    if (section < 0 || section > 5) {
        return QVariant();
    }
    return QString::fromUtf8(names[section]);
}

Qt::ItemFlags CameraReportForm_Model::flags(const QModelIndex&) const
{
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

QVariant CameraReportForm_Model::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size() || index.column() > 6) {
        return QVariant();
    }
    const CameraReportForm_Item& item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0: return item.index;
        case 1: return item.toolName;
        case 2: return item.lower;
        case 3: return item.upper;
        case 4: return item.value;
        case 5: return item.ok ? QStringLiteral("OK") : QStringLiteral("NG");
        default: return QVariant();
        }
    case Qt::ForegroundRole:
        if (index.column() == 5) {
            return QColor(item.ok ? Qt::green : Qt::red);
        }
        return QColor(Qt::white);
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return QVariant();
    }
}

void CameraReportForm_Model::setItems(const QList<CameraReportForm_Item>& items)
{
    beginResetModel();
    // Assigning the same shared list would be a no-op copy; the reset still
    // tells the view to read it again.
    if (!m_items.isSharedWith(items)) {
        m_items = items;
    }
    endResetModel();
}

CameraReportForm::CameraReportForm(QWidget* parent)
    : QWidget(parent)
    , m_model(new CameraReportForm_Model(this))
    , m_view(new QTableView(this))
{
    m_view->setObjectName(QStringLiteral("_tableView"));
    m_view->setModel(m_model);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    m_view->setMinimumHeight(200);
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    const int widths[] = {50, 60, 50, 50, 50};
    for (int c = 0; c < 5; ++c) {
        m_view->setColumnWidth(c, widths[c]);
    }
    m_view->setAlternatingRowColors(true);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->horizontalHeader()->setSectionsMovable(false);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setMinimumSectionSize(60);
    m_view->verticalHeader()->setDefaultSectionSize(40);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->setShowGrid(false);
    m_view->resizeRowsToContents();

    setCommonStyleSheet(this, QStringLiteral(
        "QWidget{background-color:#262E34;outline:0px;border:none;}"
        "QHeaderView::section{border-style:none;outline:0px;color:white;font-size:16px;background-color:#2175D3;}"
        "QTableView{background-color: #262E34;alternate-background-color: #3D4449;font-size:14px;color: white;"
        "border-style:none;outline:0px;gridline-color: rgba(255, 255, 255, 0);}"
        "QTreeView::item { border: 0.5px ; border-style: solid ; border-color: lightgray ;}"));
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

void CameraReportForm::setReportItems(const QList<CameraReportForm_Item>& items)
{
    m_model->setItems(items);
    m_view->update();
    update();
}

void CameraReportForm::resizeEvent(QResizeEvent* event)
{
    // A narrow tile (five to eight cameras) cannot give six columns their
    // 60 px: the columns beyond the edge were lost, the result first. Which
    // area is NG must stay readable, so the limits go first, then the tool's
    // name; the number, the value and the result stay.
    const int total = event->size().width();
    const int minimum = m_view->horizontalHeader()->minimumSectionSize();
    const bool limits = total / 6 >= minimum;
    const bool tool = limits || total / 4 >= minimum;
    m_view->setColumnHidden(1, !tool);
    m_view->setColumnHidden(2, !limits);
    m_view->setColumnHidden(3, !limits);
    const int shown = limits ? 6 : tool ? 4 : 3;
    const int width = total / shown;
    for (int c = 0; c < 5; ++c) {
        m_view->setColumnWidth(c, width);
    }
    // The stretched result column takes the rest at once: left to the
    // header, it kept its width from the wider tile until the next resize.
    m_view->setColumnWidth(5, std::max(minimum, total - width * (shown - 1)));
    QWidget::resizeEvent(event);
}
