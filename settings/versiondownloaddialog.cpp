#include "versiondownloaddialog.h"

#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "globals.h"
#include "texttable.h"
#include "v_selectbox.h"
#include "warnbox.h"

#include <QButtonGroup>
#include <QPainter>
#include <QPushButton>
#include <QTransform>

namespace {
const int kMaxRows = 7;
// The question names the version it downloads.
constexpr int kDownloadQuestionText = 705;
// The page buttons are the kit's secondary buttons: grey, dark text, blue
// when pressed (the sheet of old, "background:transprent;", is no colour at
// all and left them black on the dark page).
const QString kPageButtonSheet = QStringLiteral(
    "QPushButton{background-color: #4F5963;color: #FFFFFF;border: none;border-radius: 4px;font-family: SimHei;"
    "font-size: 18px;}QPushButton:pressed{background-color: #2687F2;}QPushButton:disabled{color: #D0D5DA;}");
} // namespace

VersionDownloadDialog::VersionDownloadDialog(QWidget* parent, const MaintenanceFolders& folders, const QString& baseUrl,
                                             const VersionLibraryLimits& limits)
    : QDialog(parent), m_library(new VersionLibrary(baseUrl, folders, limits, this))
{
    currentUrl = baseUrl;
    m_library->load();
    listFetched = m_library->listFetched;
    currentUrl = m_library->currentUrl;

    const int w = gScreenWidth > 1024 ? 1280 : 700;
    const int h = gScreenWidth > 1024 ? 960 : 500;
    setGeometry(gScreenWidth / 2 - w / 2, gScreenHeight / 2 - h / 2, w, h);

    exitButton = new ColorButton(QStringLiteral("退出"), this);
    prevButtons = new QButtonGroup(this);
    nextButtons = new QButtonGroup(this);

    // One column per folder: its title, its buttons and, when it has any,
    // its page buttons, all under the same index.
    const QVector<VersionColumn>& columns = m_library->columns;
    for (int c = 0; c < columns.size(); ++c) {
        titleNames << columns[c].title;
        auto* group = new QButtonGroup(this);
        for (int j = 0; j < columns[c].names.size(); ++j) {
            auto* button = new ColorButton(columns[c].names[j], this);
            button->setProperty("versionAddress", columns[c].addresses[j]);
            group->addButton(button, j);
            button->hide();
            connect(button, &QPushButton::clicked, this, [this, button]() { onVersionChosen(button); });
        }
        versionGroups << group;
        const int n = columns[c].names.size();
        pageCount << (n + rowsPerPage() - 1) / rowsPerPage();
        currentPage << 0;
        showPage(c);
        if (n > 0) {
            auto* prev = new ColorButton(QStringLiteral("上一页"), this);
            prev->setGeometry(w / 12 + c * (w / 3) - 50, h - 100, 100, 50);
            prev->setStyleSheet(kPageButtonSheet);
            prevButtons->addButton(prev, c);
            auto* next = new ColorButton(QStringLiteral("下一页"), this);
            next->setGeometry(c * (w / 3) + w / 4 - 50, h - 100, 100, 50);
            next->setStyleSheet(kPageButtonSheet);
            nextButtons->addButton(next, c);
        }
    }
    connect(prevButtons, &QButtonGroup::idClicked, this, &VersionDownloadDialog::slotToLastPage);
    connect(nextButtons, &QButtonGroup::idClicked, this, &VersionDownloadDialog::slotToNextPage);
    exitButton->setGeometry(w - 155, 5, 150, 50);
    connect(exitButton, &QPushButton::clicked, this, &VersionDownloadDialog::acceptDialog);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setCommonStyleSheet(this, QString());
}

VersionDownloadDialog::~VersionDownloadDialog() = default;

int VersionDownloadDialog::rowsPerPage() const
{
    // Rows start at 180, 80 apart and 50 high; the page buttons lie 100 above the bottom.
    const int fit = (height() - 100 - 50 - 180) / 80 + 1;
    return qBound(1, fit, kMaxRows);
}

void VersionDownloadDialog::showPage(int column)
{
    const QList<QAbstractButton*> buttons = versionGroups[column]->buttons();
    const int rows = rowsPerPage();
    const int first = currentPage[column] * rows;
    const int end = qMin(buttons.size(), first + rows);
    for (int i = first; i < end; ++i) {
        QAbstractButton* button = versionGroups[column]->button(i);
        button->setGeometry(width() / 3 * column + width() / 6 - 100, 180 + 80 * (i - first), 200, 50);
        button->setVisible(true);
    }
}

void VersionDownloadDialog::hidePage(int column)
{
    const QList<QAbstractButton*> buttons = versionGroups[column]->buttons();
    const int rows = rowsPerPage();
    const int first = currentPage[column] * rows;
    const int end = qMin(buttons.size(), first + rows);
    for (int i = first; i < end; ++i) {
        versionGroups[column]->button(i)->setVisible(false);
    }
}

void VersionDownloadDialog::slotToLastPage(int id)
{
    if (id < 0 || id >= versionGroups.size()) {
        return;
    }
    hidePage(id);
    if (currentPage[id] != 0) {
        --currentPage[id];
    }
    showPage(id);
}

void VersionDownloadDialog::slotToNextPage(int id)
{
    if (id < 0 || id >= versionGroups.size()) {
        return;
    }
    hidePage(id);
    if (currentPage[id] + 1 < pageCount[id]) {
        ++currentPage[id];
    }
    showPage(id);
}

void VersionDownloadDialog::setButtonsEnabled(bool enabled)
{
    for (QButtonGroup* group : qAsConst(versionGroups)) {
        for (QAbstractButton* button : group->buttons()) {
            button->setEnabled(enabled);
        }
    }
}

void VersionDownloadDialog::acceptDialog()
{
    done(1);
}

bool VersionDownloadDialog::downloadPackage(const QString& name, const QString& address)
{
    return m_library->downloadPackage(name, address);
}

void VersionDownloadDialog::onVersionChosen(QAbstractButton* button)
{
    exitButton->setEnabled(false);
    setButtonsEnabled(false);
    const int x = width() / 2 - 375;
    const int y = height() / 2 - 185;
    bool again = true;
    {
        v_SelectBox question(x, y, this, 2);
        question.setMessage(textOf(kDownloadQuestionText).arg(button->text()));
        if (question.exec() == 1) {
            auto* progress = new v_SelectBox(x, y, this, 0);
            progress->setMessage(QStringLiteral("下载中..."));
            progress->show();
            // Each button keeps the address of the folder it was listed in.
            const bool ok = downloadPackage(button->text(), button->property("versionAddress").toString());
            progress->close();
            progress->deleteLater();
            v_SelectBox result(x, y, this, 1);
            result.setMessage(ok ? QStringLiteral("下载成功\n重启后自动更新") : QStringLiteral("下载失败"));
            again = result.exec() == 1;
        }
    }
    if (again) {
        setButtonsEnabled(true);
        exitButton->setEnabled(true);
    }
}

void VersionDownloadDialog::paintEvent(QPaintEvent*)
{
    // The kit's dialog look: a dark title bar with a white title over the
    // dark body, the column titles as the kit's blue headings, thin
    // separators. The system's own background pictures are busy and its
    // cyan and yellow did not belong to any other screen.
    QPainter painter(this);
    const int w = width();
    const int h = height();
    painter.fillRect(rect(), QColor(QStringLiteral("#262E34")));
    painter.fillRect(QRect(0, 0, w, 60), QColor(QStringLiteral("#353D45")));
    QFont font(QStringLiteral("SimHei"));
    font.setPixelSize(28);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(20, 0, w - 200, 60), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("版本库"));
    painter.setPen(QPen(QColor(QStringLiteral("#4F5963")), 1));
    for (int i = 1; i < titleNames.size(); ++i) {
        painter.drawLine(i * (w / 3), 170, i * (w / 3), h - 90);
    }
    font.setPixelSize(24);
    painter.setFont(font);
    painter.setPen(QColor(QStringLiteral("#2687F2")));
    for (int c = 0; c < titleNames.size(); ++c) {
        painter.drawText(QRect(c * (w / 3) + 10, 100, w / 3 - 20, 50), Qt::AlignCenter, titleNames[c]);
    }
}

void openVersionLibrary(QWidget* page, QPushButton* button, const MaintenanceFolders& folders, const QString& baseUrl,
                        const VersionLibraryLimits& limits)
{
    if (button) {
        button->setEnabled(false);
    }
    auto* dialog = new VersionDownloadDialog(page, folders, baseUrl, limits);
    int result = 0;
    if (dialog->listFetched) {
        result = dialog->exec();
    } else {
        Warnbox warning(page);
        warning.setMessage(QStringLiteral("网络异常无法访问"));
        warning.exec();
    }
    if (result == 1 && button) {
        button->setEnabled(true);
    }
    delete dialog;
}
