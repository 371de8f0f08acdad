#include "imagepickform.h"

#include "cameraregistry.h"
#include "filelisting.h"
#include "globals.h"
#include "mainscreenhost.h"
#include "systemparam.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

imageInfoListModel::imageInfoListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

int imageInfoListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_entries.size();
}

QVariant imageInfoListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= m_entries.size()) {
        return QVariant();
    }
    return m_entries.at(index.row());
}

void imageInfoListModel::setEntries(const QStringList& entries)
{
    beginResetModel();
    m_entries = entries;
    endResetModel();
}

namespace {

QString zh(const char* text)
{
    return QString::fromUtf8(text);
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFixedSize(120, 40);
    button->setProperty("choose", false);
    return button;
}

} // namespace

ImagePickForm_Source::ImagePickForm_Source(QWidget* parent)
    : QWidget(parent)
{
    setFixedWidth(420);
    auto* grid = new QGridLayout(this);
    grid->setSpacing(20);
    grid->setContentsMargins(10, 20, 10, 20);
    int row = 0;
    auto addButtons = [&](QButtonGroup* group, const QList<QPushButton*>& buttons, const QList<int>& ids) {
        for (int i = 0; i < buttons.size(); ++i) {
            group->addButton(buttons[i], ids[i]);
            grid->addWidget(buttons[i], row + i / 3, i % 3);
        }
        row += (buttons.size() + 2) / 3;
    };

    grid->addWidget(new QLabel(zh("·图片类型"), this), row++, 0);
    auto* sources = new QButtonGroup(this);
    sources->setObjectName(QStringLiteral("sourcegroup"));
    static const char* const sourceNames[] = {"source_temp", "source_ontime", "source_last_ng", "source_record_ok", "source_record_ng"};
    static const char* const sourceTexts[] = {"模板", "实时画面", "最近NG", "OK记录", "NG记录"};
    QList<QPushButton*> buttons;
    QList<int> ids;
    for (int i = 0; i < 5; ++i) {
        buttons << makeButton(this, QString::fromLatin1(sourceNames[i]), zh(sourceTexts[i]));
        ids << i;
    }
    addButtons(sources, buttons, ids);

    grid->addWidget(new QLabel(zh("·相机"), this), row++, 0);
    auto* cameras = new QButtonGroup(this);
    cameras->setObjectName(QStringLiteral("cameragroup"));
    buttons.clear();
    ids.clear();
    for (int k = 0; k < gCameraCount; ++k) {
        buttons << makeButton(this, QStringLiteral("camera_btn_%1").arg(k), zh("%1号相机").arg(k + 1));
        ids << k;
    }
    buttons << makeButton(this, QStringLiteral("camera_btn_all"), zh("全部相机"));
    ids << gCameraCount;
    addButtons(cameras, buttons, ids);

    auto* detectLabel = new QLabel(zh("·检测类型"), this);
    detectLabel->setObjectName(QStringLiteral("detectLabel"));
    grid->addWidget(detectLabel, row++, 0);
    auto* detects = new QButtonGroup(this);
    detects->setObjectName(QStringLiteral("detectgroup"));
    buttons.clear();
    ids.clear();
    const int function = gpSystemParam ? gpSystemParam->systemFunction() : 0;
    QStringList texts;
    if (function == 0) {
        texts << zh("成品检测") << zh("模腔检测");
    } else if (function == 1 || function == 2) {
        for (const char* side : {"左成品", "左模腔", "右成品", "右模腔"}) {
            texts << zh(side) + zh("检测");
        }
    }
    for (int d = 0; d < texts.size(); ++d) {
        buttons << makeButton(this, QStringLiteral("detect_%1").arg(d), texts[d]);
        ids << d;
    }
    addButtons(detects, buttons, ids);

    setStyleSheet(QStringLiteral(
        "QWidget{background-color:#313131;outline:0px;border:none;}QLabel{color: #2687F2;font-size: 16px;font-family: SimHei}"
        "QPushButton{padding-left: 5px;padding-right: 5px;background-origin: content;background-position: left;"
        "background-color: #313131;font-size:16px;text-align: center;color: #FFFFFF;border: 1px solid #707070;}"
        "QPushButton:hover{padding-left: 5px;padding-right: 5px;background-origin: content;background-color: #D04136;"
        "font-size:16px;text-align: center;color: #FFFFFF;}"
        "QPushButton:pressed{padding-left: 5px;padding-right: 5px;background-origin: content;background-color: #D04136;"
        "font-size:16px;text-align: center;color: #FFFFFF;}"
        "QPushButton[choose = true]{padding-left: 5px;padding-right: 5px;background-origin: content;background-color: #2175D3;"
        "font-size:16px;text-align: center;color: #FFFFFF;}"));
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

ImagePickForm_List::ImagePickForm_List(QWidget* parent)
    : QWidget(parent)
    , m_view(new QListView(this))
    , m_model(new imageInfoListModel(this))
{
    setFixedWidth(420);
    m_view->setObjectName(QStringLiteral("imageInfoListView"));
    m_view->setFixedWidth(400);
    m_view->setModel(m_model);
    // Thousands of record pictures: rows of one height are laid out without
    // measuring every entry.
    m_view->setUniformItemSizes(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 20, 10, 20);
    layout->addWidget(m_view);
    setStyleSheet(QStringLiteral("QWidget{background-color:#313131;outline:0px;border:none;}"
                                 "QListView{background-color: #1E1E1E;color: white;font-size: 16px;}"
                                 "QListView::item{height: 40px;padding-left: 20px;}"
                                 // Five thousand records: the bar is what a finger drags.
                                 "QScrollBar:vertical{width:40px;background:#313131;}"
                                 "QScrollBar::handle:vertical{background:#8A8A8A;min-height:60px;border-radius:6px;}"));
    setAttribute(Qt::WA_StyledBackground, true);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

ImagePickForm::ImagePickForm(QWidget* parent)
    : QWidget(parent)
    , m_source(new ImagePickForm_Source(this))
    , m_list(new ImagePickForm_List(this))
{
    setObjectName(QStringLiteral("pImgForm"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_source, 0, Qt::AlignTop);
    layout->addWidget(m_list);
    m_detectLabel = m_source->findChild<QLabel*>(QStringLiteral("detectLabel"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFixedSize(420, gScreenHeight - 60);

    auto* sources = m_source->findChild<QButtonGroup*>(QStringLiteral("sourcegroup"));
    auto* cameras = m_source->findChild<QButtonGroup*>(QStringLiteral("cameragroup"));
    auto* detects = m_source->findChild<QButtonGroup*>(QStringLiteral("detectgroup"));
    connect(sources, &QButtonGroup::idClicked, this, [this, sources](int id) {
        choose(sources, id);
        onSource(id);
    });
    connect(cameras, &QButtonGroup::idClicked, this, [this, cameras](int id) {
        choose(cameras, id);
        m_source->camera = id;
        emit cameraChange(id);
        rebuildList();
    });
    connect(detects, &QButtonGroup::idClicked, this, [this, detects](int id) {
        choose(detects, id);
        m_source->detect = id;
        emit detectChange(id);
        rebuildList();
    });
    connect(m_list->view(), &QListView::clicked, this, [this](const QModelIndex& index) { emit imageChange(index.row()); });
    hide();
}

void ImagePickForm::choose(QButtonGroup* group, int id)
{
    for (QAbstractButton* button : group->buttons()) {
        const bool chosen = group->id(button) == id;
        if (button->property("choose").toBool() != chosen || chosen) {
            button->setProperty("choose", chosen);
            button->style()->unpolish(button);
            button->style()->polish(button);
        }
    }
}

void ImagePickForm::onSource(int id)
{
    auto* detects = m_source->findChild<QButtonGroup*>(QStringLiteral("detectgroup"));
    if (id == 1) {
        for (QAbstractButton* button : detects->buttons()) {
            button->hide();
        }
        m_detectLabel->hide();
        m_list->hide();
    } else if (m_source->source == 1) {
        for (QAbstractButton* button : detects->buttons()) {
            button->show();
        }
        m_detectLabel->show();
        m_list->show();
    }
    m_source->source = id;
    emit sourceChange(id);
    rebuildList();
}

QStringList ImagePickForm::listFor(int source, int templateCamera, int templateDetect, int recordCamera, int recordDetect)
{
    QStringList entries;
    if (source == 0) {
        QDir dir(QStringLiteral("./cammer%1%2").arg(templateCamera + 1).arg(templateDetect + 1));
        dir.setNameFilters({QStringLiteral("template*.bmp")});
        dir.setFilter(QDir::Files);
        dir.setSorting(QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& file : dir.entryInfoList()) {
            entries << file.fileName() + QLatin1Char(' ') + file.lastModified().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
        }
    } else if (source == 3 || source == 4) {
        QDir dir(QStringLiteral("./alarmimage/camera%1/detect%2/%3")
                     .arg(recordCamera + 1)
                     .arg(recordDetect + 1)
                     .arg(source == 3 ? QStringLiteral("OK") : QStringLiteral("NG")));
        for (const QFileInfo& file : filesNewestFirst(dir.path(), {QStringLiteral("*.jpg")})) {
            entries << file.fileName();
        }
    }
    return entries;
}

void ImagePickForm::rebuildList()
{
    const MainScreenHost* host = mainScreenHost();
    m_list->model()->setEntries(
        listFor(m_source->source, host->currentCamera(), host->editedDetect(), m_source->camera, m_source->detect));
    m_list->view()->update();
    m_list->update();
}

void ImagePickForm::select(const char* groupName, int index)
{
    auto* group = m_source->findChild<QButtonGroup*>(QLatin1String(groupName));
    if (!group || index < 0 || index >= group->buttons().size()) {
        return;
    }
    if (QAbstractButton* button = group->button(index)) {
        button->click();
    }
}

void ImagePickForm::selectSource(int index)
{
    select("sourcegroup", index);
}

void ImagePickForm::selectCamera(int index)
{
    select("cameragroup", index);
}

void ImagePickForm::selectDetect(int index)
{
    select("detectgroup", index);
}
