#include "imagepickform.h"

#include "cameraregistry.h"
#include "filelisting.h"
#include "globals.h"
#include "screenstate.h"
#include "systemparam.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

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

// Names compared as a person reads them: runs of digits by their value
// (template2 before template10), other characters without case.
bool naturalLess(const QString& a, const QString& b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            int ei = i;
            int ej = j;
            while (ei < a.size() && a.at(ei).isDigit()) {
                ++ei;
            }
            while (ej < b.size() && b.at(ej).isDigit()) {
                ++ej;
            }
            // Leading zeros aside, the longer run is the larger number.
            QStringRef x = a.midRef(i, ei - i);
            QStringRef y = b.midRef(j, ej - j);
            while (x.size() > 1 && x.at(0) == QLatin1Char('0')) {
                x = x.mid(1);
            }
            while (y.size() > 1 && y.at(0) == QLatin1Char('0')) {
                y = y.mid(1);
            }
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            const int order = x.compare(y);
            if (order != 0) {
                return order < 0;
            }
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a.at(i).toCaseFolded();
        const QChar cb = b.at(j).toCaseFolded();
        if (ca != cb) {
            return ca < cb;
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// The chooser's words, in the operator's language.
QString word(const char* text)
{
    return QCoreApplication::translate("ImagePickForm_Source", text);
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

    grid->addWidget(new QLabel(QCoreApplication::translate("ImagePickForm_Source", "·图片类型"), this), row++, 0);
    auto* sources = new QButtonGroup(this);
    sources->setObjectName(QStringLiteral("sourcegroup"));
    static const char* const sourceNames[] = {"source_temp", "source_ontime", "source_last_ng", "source_record_ok", "source_record_ng"};
    static const char* const sourceTexts[] = {QT_TRANSLATE_NOOP("ImagePickForm_Source", "模板"), QT_TRANSLATE_NOOP("ImagePickForm_Source", "实时画面"),
                                               QT_TRANSLATE_NOOP("ImagePickForm_Source", "最近NG"), QT_TRANSLATE_NOOP("ImagePickForm_Source", "OK记录"),
                                               QT_TRANSLATE_NOOP("ImagePickForm_Source", "NG记录")};
    QList<QPushButton*> buttons;
    QList<int> ids;
    for (int i = 0; i < 5; ++i) {
        buttons << makeButton(this, QString::fromLatin1(sourceNames[i]), word(sourceTexts[i]));
        ids << i;
    }
    addButtons(sources, buttons, ids);

    grid->addWidget(new QLabel(QCoreApplication::translate("ImagePickForm_Source", "·相机"), this), row++, 0);
    auto* cameras = new QButtonGroup(this);
    cameras->setObjectName(QStringLiteral("cameragroup"));
    buttons.clear();
    ids.clear();
    for (int k = 0; k < gCameraCount; ++k) {
        buttons << makeButton(this, QStringLiteral("camera_btn_%1").arg(k), QCoreApplication::translate("ImagePickForm_Source", "%1号相机").arg(k + 1));
        ids << k;
    }
    buttons << makeButton(this, QStringLiteral("camera_btn_all"), QCoreApplication::translate("ImagePickForm_Source", "全部相机"));
    ids << gCameraCount;
    addButtons(cameras, buttons, ids);

    auto* detectLabel = new QLabel(QCoreApplication::translate("ImagePickForm_Source", "·检测类型"), this);
    detectLabel->setObjectName(QStringLiteral("detectLabel"));
    grid->addWidget(detectLabel, row++, 0);
    auto* detects = new QButtonGroup(this);
    detects->setObjectName(QStringLiteral("detectgroup"));
    buttons.clear();
    ids.clear();
    const int function = gpSystemParam ? gpSystemParam->systemFunction() : 0;
    QStringList texts;
    if (function == 0) {
        texts << QCoreApplication::translate("ImagePickForm_Source", "成品检测") << QCoreApplication::translate("ImagePickForm_Source", "模腔检测");
    } else if (function == 1 || function == 2) {
        for (const char* side : {QT_TRANSLATE_NOOP("ImagePickForm_Source", "左成品"), QT_TRANSLATE_NOOP("ImagePickForm_Source", "左模腔"),
                                  QT_TRANSLATE_NOOP("ImagePickForm_Source", "右成品"), QT_TRANSLATE_NOOP("ImagePickForm_Source", "右模腔")}) {
            // The side word joined with the word for detection, in the order the language wants.
            texts << QCoreApplication::translate("ImagePickForm_Source", "%1检测").arg(word(side));
        }
    }
    for (int d = 0; d < texts.size(); ++d) {
        buttons << makeButton(this, QStringLiteral("detect_%1").arg(d), texts[d]);
        ids << d;
    }
    addButtons(detects, buttons, ids);

    setStyleSheet(QStringLiteral(
        "QWidget{background-color:#313131;outline:0px;border:none;}QLabel{color: #5AA8FF;font-size: 16px;font-family: SimHei}"
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
    connect(m_list->view(), &QListView::clicked, this, [this](const QModelIndex& index) { emit imageChange(pickedImage(index)); });
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
        // In the order of their numbers (template2 before template10), as the
        // operator counts them, not in the order of the names' characters.
        QFileInfoList files = dir.entryInfoList();
        std::stable_sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
            return naturalLess(a.fileName(), b.fileName());
        });
        for (const QFileInfo& file : files) {
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

int ImagePickForm::pickedImage(const QModelIndex& index) const
{
    // A template is picked by its number: after a deletion the list has gaps
    // (template0, template2, ...) and the row would name another template.
    if (m_source->source == 0) {
        static const QRegularExpression number(QStringLiteral("^template(\\d+)\\."), QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = number.match(index.data().toString());
        if (m.hasMatch()) {
            return m.captured(1).toInt();
        }
    }
    return index.row();
}

void ImagePickForm::rebuildList()
{
    const OperatingState& op = screenState();
    m_list->model()->setEntries(
        listFor(m_source->source, op.shownCamera(), op.editedDetect(), m_source->camera, m_source->detect));
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
