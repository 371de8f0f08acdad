#include "widgetchangecamera.h"

#include "cameraregistry.h"
#include "colorbutton.h"
#include "operatorprompt.h"
#include "paramstorage.h"
#include "texttable.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QSqlDatabase>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// "The camera order could not be saved to SN.db ..."
constexpr int kCameraOrderNotSavedText = 670;
constexpr int kDuplicateTargetText = 361;
constexpr int kTargetItemText = 394;
constexpr int kRowCaptionText = 395;
// "保存相机顺序": the title bar's "确定" only closes, so the button that
// saves says what it does.
constexpr int kConfirmText = 704;
constexpr int kDialogHeight = 560;
constexpr int kTitleBarHeight = 60;
constexpr int kRowHeight = 50;
// The confirm button's top: under the last of eight rows, never over the
// title bar or a row.
constexpr int kConfirmTop = kDialogHeight - 5 - 10 - 50;

} // namespace

WidgetChangeCamera::WidgetChangeCamera(QWidget* parent, PowerOffStep powerOff)
    : CComp_DialogFrame(tr("相机排序"), parent)
    , m_cameras(qBound(0, gCameraCount, MaxCameras))
    , m_powerOff(std::move(powerOff))
{
    const int width = gLanguage == 3 ? 750 : 550;
    QFont listFont(QStringLiteral("SimHei"));
    listFont.setPixelSize(32);

    auto* rows = new QVBoxLayout(contentWidget);
    // The rows share the band between the title bar and the confirm button;
    // eight rows close up to fit it.
    const int band = kConfirmTop - kTitleBarHeight - 8 - 5;
    const int spacing = m_cameras > 1 ? qBound(2, (band - m_cameras * kRowHeight) / (m_cameras - 1), 10) : 10;
    rows->setSpacing(spacing);
    rows->setContentsMargins(20, 8, 20, kDialogHeight - 5 - kTitleBarHeight - kConfirmTop + 5);
    for (int k = 0; k < m_cameras; ++k) {
        auto* label = new QLabel(textOf(kRowCaptionText).arg(k + 1), contentWidget);
        auto* list = new ComboBox(contentWidget);
        for (int n = 0; n < m_cameras; ++n) {
            list->addItem(textOf(kTargetItemText).arg(n + 1), n);
        }
        list->setFixedSize(160, 50);
        list->setItemFont(listFont);
        list->setItemHeight(50);
        list->setCurrentIndex(k);
        m_order[k] = k;
        connect(list, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this, k](int index) { onRowChanged(k, index); });
        auto* row = new QHBoxLayout;
        row->addWidget(label);
        row->addWidget(list);
        rows->addLayout(row);
        rowLabels << label;
        rowLists << list;
    }
    rows->addStretch();

    confirmButton = new ColorButton(textOf(kConfirmText), this);
    confirmButton->setGeometry(30, kConfirmTop, width - 60, 50);
    connect(confirmButton, &QPushButton::clicked, this, &WidgetChangeCamera::onOkClicked);

    setFixedSize(width, 560);
    if (parent) {
        move(parent->width() / 2 - width / 2, parent->height() / 2 - 280);
    }
}

void WidgetChangeCamera::onRowChanged(int row, int index)
{
    if (row >= 0 && row < m_cameras) {
        m_order[row] = index;
    }
}

void WidgetChangeCamera::onOkClicked()
{
    for (int i = 0; i + 1 < m_cameras; ++i) {
        for (int j = i + 1; j < m_cameras; ++j) {
            if (m_order[i] == m_order[j]) {
                warnOperator(textOf(kDuplicateTargetText).arg(m_order[i] + 1));
                return;
            }
        }
    }
    // The choice goes live only once it is stored: a half-made order in
    // gCameraOrder would be written by the next re-sampling and swap cameras.
    if (!saveCameraSerials(0, m_order, QSqlDatabase::database(QString::fromLatin1(kSerialConnectionName), false))) {
        warnOperator(textOf(kCameraOrderNotSavedText));
        return;
    }
    std::copy(m_order, m_order + m_cameras, gCameraOrder);
    // The new order takes effect at the next start.
    if (m_powerOff) {
        m_powerOff();
    }
}
