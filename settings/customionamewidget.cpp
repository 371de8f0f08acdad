#include "customionamewidget.h"

#include "iostatuswidget.h"
#include "texttable.h"

#include <QHBoxLayout>
#include <QListWidget>

namespace {

constexpr int kTitleText = 498;  // "IO名称"

} // namespace

CustomIONameWidget::CustomIONameWidget(QWidget* parent)
    : CComp_DialogFrame(textOf(kTitleText), parent)
{
    setObjectName(QStringLiteral("CustomIONameWidget"));
    inputList = new QListWidget(contentWidget);
    inputList->setObjectName(QStringLiteral("inputList"));
    outputList = new QListWidget(contentWidget);
    outputList->setObjectName(QStringLiteral("outputList"));
    // Rows tall enough for a finger, as the other lists of the panel.
    const QString listSheet = QStringLiteral("QListView{background: #353D45;border: 1px solid #707070;color: white;"
                                             "font-size: 22px;}"
                                             "QListView::item{height: 40px;padding-left: 20px;}");
    inputList->setStyleSheet(listSheet);
    outputList->setStyleSheet(listSheet);
    auto* lists = new QHBoxLayout(contentWidget);
    lists->setContentsMargins(20, 10, 20, 10);
    lists->setSpacing(20);
    lists->addWidget(inputList);
    lists->addWidget(outputList);
}

void CustomIONameWidget::loadNames()
{
    // Cleared first: a second fill must not stand below the first.
    inputList->clear();
    outputList->clear();
    for (int i = 0; i < kIOChannels; ++i) {
        inputList->addItem(ioChannelName(true, i));
        outputList->addItem(ioChannelName(false, i));
    }
}
