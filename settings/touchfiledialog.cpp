#include "touchfiledialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScroller>
#include <QToolButton>
#include <QTreeView>

namespace {

constexpr int kRowIcon = 48;
constexpr int kToolIcon = 36;
constexpr int kControlHeight = 56;

const char* const kSheet =
    "QFileDialog{background-color: #262E34;}"
    "QFileDialog QLabel{color: #FFFFFF;font-family: SimHei;font-size: 22px;}"
    "QFileDialog QListView, QFileDialog QTreeView{background-color: #FFFFFF;color: #262E34;font-family: SimHei;"
    "font-size: 24px;border: 1px solid #707070;activate-on-singleclick: 1;}"
    "QFileDialog QListView::item, QFileDialog QTreeView::item{min-height: 64px;padding: 4px 8px;}"
    "QFileDialog QListView::item:selected, QFileDialog QTreeView::item:selected{background-color: #2175D3;"
    "color: #FFFFFF;}"
    "QFileDialog QHeaderView::section{background-color: #353D45;color: #FFFFFF;font-size: 20px;height: 44px;"
    "border: none;padding-left: 8px;}"
    "QFileDialog QLineEdit{background-color: #FFFFFF;color: #262E34;border: 1px solid #707070;border-radius: 4px;"
    "font-family: SimHei;font-size: 24px;padding: 0 8px;}"
    "QFileDialog QComboBox{background-color: #FFFFFF;color: #262E34;border: 1px solid #707070;border-radius: 4px;"
    "font-family: SimHei;font-size: 22px;padding: 0 8px;}"
    "QFileDialog QComboBox QAbstractItemView::item{min-height: 56px;}"
    "QFileDialog QPushButton{background-color: #2175D3;color: #FFFFFF;border: none;border-radius: 4px;"
    "font-family: SimHei;font-size: 24px;min-width: 160px;padding: 0 16px;}"
    "QFileDialog QPushButton:pressed{background-color: #1A6FC9;}"
    "QFileDialog QPushButton:disabled{background-color: #4F5963;color: #D0D5DA;}"
    "QFileDialog QToolButton{background-color: #4F5963;border: none;border-radius: 4px;}"
    "QFileDialog QToolButton:pressed, QFileDialog QToolButton:checked{background-color: #2687F2;}"
    "QFileDialog QScrollBar:vertical{width: 44px;background: #353D45;}"
    "QFileDialog QScrollBar:horizontal{height: 44px;background: #353D45;}"
    "QFileDialog QScrollBar::handle{background: #8A949E;border-radius: 4px;min-height: 60px;min-width: 60px;}"
    "QFileDialog QScrollBar::add-line, QFileDialog QScrollBar::sub-line{width: 0px;height: 0px;}";

} // namespace

void fitFileDialogForTouch(QFileDialog* dialog)
{
    if (!dialog) {
        return;
    }
    // Only Qt's own dialog has widgets to fit; a platform dialog would not.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setStyleSheet(QString::fromLatin1(kSheet));

    const auto views = dialog->findChildren<QAbstractItemView*>();
    for (QAbstractItemView* view : views) {
        // The popup lists of the combo boxes keep their own handling.
        if (qobject_cast<QComboBox*>(view->parentWidget()) || view->window() != dialog) {
            continue;
        }
        view->setIconSize(QSize(kRowIcon, kRowIcon));
        view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        // A finger drags the list; a tap still selects and opens.
        QScroller::grabGesture(view->viewport(), QScroller::LeftMouseButtonGesture);
        if (auto* list = qobject_cast<QListView*>(view)) {
            list->setSpacing(4);
            list->setUniformItemSizes(true);
            if (list->objectName() == QLatin1String("sidebar")) {
                list->setMinimumWidth(260);
            }
        }
        if (auto* tree = qobject_cast<QTreeView*>(view)) {
            tree->setUniformRowHeights(true);
            tree->header()->setMinimumSectionSize(120);
        }
    }
    const auto tools = dialog->findChildren<QToolButton*>();
    for (QToolButton* tool : tools) {
        tool->setIconSize(QSize(kToolIcon, kToolIcon));
        tool->setFixedSize(kControlHeight, kControlHeight);
    }
    const auto buttons = dialog->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        button->setMinimumHeight(kControlHeight);
    }
    const auto fields = dialog->findChildren<QLineEdit*>();
    for (QLineEdit* field : fields) {
        if (!qobject_cast<QComboBox*>(field->parentWidget())) {
            field->setMinimumHeight(kControlHeight);
        }
    }
    const auto combos = dialog->findChildren<QComboBox*>();
    for (QComboBox* combo : combos) {
        combo->setMinimumHeight(kControlHeight);
    }
}
