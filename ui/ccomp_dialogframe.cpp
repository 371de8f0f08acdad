#include "ccomp_dialogframe.h"

#include "captionfit.h"
#include "kiticons.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

CComp_DialogFrame::CComp_DialogFrame(QString title, QWidget* parent)
    : QDialog(parent)
{
    titleBar = new QWidget(this);
    titleBar->setObjectName(QStringLiteral("titleBar"));
    titleBar->setFixedHeight(60);
    titleLabel = new QLabel(titleBar);
    titleLabel->setObjectName(QStringLiteral("labtitle"));
    titleLabel->setFixedHeight(60);
    titleLabel->setText(title);
    contentWidget = new QWidget(this);
    contentWidget->setObjectName(QStringLiteral("contentWgt"));
    titleLayout = new QHBoxLayout(titleBar);
    okButton = new QPushButton(QStringLiteral("确定"), titleBar);
    okButton->setObjectName(QStringLiteral("okBtn"));
    okButton->setFixedSize(120, 60);
    titleLayout->addWidget(titleLabel);
    titleLayout->addStretch();
    titleLayout->addWidget(okButton);
    titleLayout->setContentsMargins(8, 0, 0, 0);
    // On press, not on release: a finger that slides off the button still confirms.
    connect(okButton, &QPushButton::pressed, this, &CComp_DialogFrame::acceptDialog);

    auto* layout = new QVBoxLayout(this);
    layout->setMargin(0);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 5);
    layout->addWidget(titleBar);
    layout->addWidget(contentWidget);
    setMinimumSize(1000, 800);
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    qInfo() << "open dialog:" << title;
}

void CComp_DialogFrame::acceptDialog()
{
    QDialog::accept();
}

void CComp_DialogFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillRect(rect(), Qt::SolidPattern);
}

C_Type_COM::C_Type_COM(QWidget* parent)
    : QWidget(parent)
{
}

void C_Type_COM::initForm() {}

void C_Type_COM::setRoundedEditStyle(QWidget* edit, int type)
{
    static const char* const focusColours[] = {"#34495E", "#1ABC9C", "#3498DB", "#E74C3C"};
    if (type < 0 || type > 3) {
        return;
    }
    setEditBorderColors(edit, QStringLiteral("#DCE4EC"), QString::fromLatin1(focusColours[type]));
}

void C_Type_COM::setEditBorderColors(QWidget* edit, QString normal, QString focus)
{
    edit->setStyleSheet(
        QStringLiteral("QLineEdit{border-style:none;padding:1px;border-radius:5px;border:2px solid %1;}").arg(normal)
        + QStringLiteral("QLineEdit:focus{border:2px solid %1;}").arg(focus));
}

// White captions stand on the convention's blue, red and button blue
// darkened to #2175D3, #D04136 and #2A7AAF: on #2687F2, #F24C3F and #3498DB
// white reads at 3.6, 3.6 and 3.2 : 1 only, below the 4.5 a screen needs.
// Blue text on white takes #2175D3 too (4.6 : 1); on the dark panels the
// lighter #5AA8FF (#2687F2 reads at 3.1 to 3.8 : 1 on their greys).
QString commonStyleSheet()
{
    static const QString sheet = QStringLiteral(
        "QWidget{background-color: #1E1E1E;outline:0px;border:none;}"
        "QWidget#titleBar{color:white;background-color:rgb(80,80,80);font-size:32px;}"
        "QDialog{background-color:#1E1E1E;outline:0px;border:none;}"
        "QTabWidget::pane{border: 1px solid #BDBDBD;background-color:#616161;}"
        "QTabWidget::tab-bar{alignment:left;top:1px;}"
        "QTabBar::tab{color:white;border: 1px solid #BDBDBD;padding-left: 10px;padding-right: 10px;}"
        "QTabBar::tab:selected{height:50px;width:335px;color:white;font-size:22px;background-color:#2175D3;"
        "border: 1px solid #BDBDBD;border-bottom: 1px solid #616161;}"
        "QTabBar::tab:!selected{height:40px;width:335px;font-size:22px;top:10px;background-color: rgb(110, 110, 110);}"
        "QPushButton{outline:0px;border:none;font-size:15px;height:40px;width:80px;color:white;"
        "background-color:#2A7AAF;padding-left: 5px;}"
        "QPushButton:hover{background-color:#2972F4;color:white;}"
        "QPushButton:!hover{background-color:#2A7AAF;color:white;}"
        "QPushButton:pressed{background-color:#FFC107;color:#3498DB;}"
        "QPushButton#okBtn{outline:0px;border:none;font-size:32px;color:white;background-color:#2175D3;}"
        "QLabel{color:white;font-size:26px;background-color: transparent;}"
        "QRadioButton,QCheckBox{color:white;font-size:26px;}"
        "QRadioButton::indicator{width:32px;height:32px;}"
        "QCheckBox::indicator{width:32px;height:32px;}"
        "QRadioButton::indicator::unchecked {image: url(:/img/Resources/RadioBox1.png);}"
        "QRadioButton::indicator::checked {image: url(:/img/Resources/RadioBox2.png);}"
        "QCheckBox::indicator::unchecked {width: 24px;height: 24px;image: url(:/Unchecked.png);}"
        "QCheckBox::indicator::checked {width: 24px;height: 24px;image: url(:/Checked.png);}"
        "QCheckBox::enabled::checked {color: #ffffff;}"
        // An unticked caption is as bright as a ticked one: grey read as
        // disabled, and the indicator already tells the state.
        "QCheckBox::enabled::unchecked {color: #ffffff;}"
        "QListWidget{font-size:22px;color:white;background-color:#616161;alternate-background-color:#757575;"
        "border:1px solid #BDBDBD;}"
        "QScrollArea{background-color:white;border:0px;}"
        "QScrollBar:vertical{background:white;padding-top:0px;padding-bottom:0px;padding-left:0px;padding-right:0px;"
        "solid #d7d7d7;}"
        "QScrollBar::handle:vertical{background:#B7B7B7;border-radius:7px;min-height:80px}"
        "QScrollBar::handle:vertical:hover{background:#949494;}"
        "QScrollBar::add-line:vertical {height:0px;subcontrol-position:bottom;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical {height:0px;subcontrol-position:top;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical:pressed {background-color:#FFC107;}"
        "QLineEdit{color:white;font-size:20px;padding:0px 5px 0px 5px;border: 1px solid #959595;height:32px;}"
        "QLineEdit:!focus{border: 1px solid #959595;background:transparent;color:white;}"
        "QLineEdit:focus{background:white;color:black;}"
        // Touch rules after the dark sheet: a combo box is a light field with
        // dark text at the kit's size (the dark sheet alone left it black on
        // black), and whatever a finger taps is at least 40 px across.
        "QComboBox{background-color:#F2F2F2;color:#1E1E1E;font-size:22px;border:1px solid #BDBDBD;"
        "border-radius:4px;padding-left:6px;min-height:40px;}"
        "QComboBox:disabled{background-color:#9E9E9E;color:#1E1E1E;}"
        "QComboBox::drop-down{width:36px;border:none;}"
        "QComboBox::down-arrow{width:15px;height:12px;image:url(:/down-arrow.png);}"
        "QComboBox QAbstractItemView{background-color:#F2F2F2;color:#1E1E1E;font-size:22px;"
        "selection-background-color:#2175D3;selection-color:white;}"
        "QComboBox QAbstractItemView::item{min-height:44px;}"
        "QRadioButton,QCheckBox{min-height:40px;}"
        "QScrollBar:vertical{width:40px;}");
    return sheet;
}

void setCommonStyleSheet(QWidget* w, QString extra)
{
    ensureKitIcons();
    w->setStyleSheet(commonStyleSheet() + extra);
    // The screens' sizes are made for the Chinese captions.
    CaptionFit::watchAll(w);
}

void setTransparentTitleStyle(QWidget* dialog, QWidget* tabWidget)
{
    dialog->setAttribute(Qt::WA_TranslucentBackground);
    dialog->setStyleSheet(QStringLiteral("QWidget#titleBar{background-color: transparent;outline: 0px;}"
                                         "QLabel{color: transparent;}"
                                         "QPushButton#okBtn{background-color: transparent;color: transparent;}"));
    tabWidget->setStyleSheet(QStringLiteral(
        "QTabWidget::pane{border: none;background-color: transparent;border: 1px solid transparent;}"
        "QTabWidget::tab-bar{alignment:left;top:1px;}"
        "QTabBar::tab{color: transparent;border: none;padding-left: 10px;padding-right: 10px;}"
        "QTabBar::tab:selected{height:50px;width:335px;background-color:transparent;border: 1px solid transparent;}"
        "QTabBar::tab:!selected{height:40px;width:335px;background-color: transparent;border: 1px solid transparent;"
        "top: 10px;}"));
}

QString colouredText(QString colour, QString text)
{
    return QStringLiteral("<font style='color:%1;'>%2</font>").arg(colour, text);
}
