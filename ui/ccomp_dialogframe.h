#pragma once

#include <QDialog>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;

// Frameless base of the large dialogs: a title bar with the title and "确定"
// over a content widget that the derived dialog fills.
class CComp_DialogFrame : public QDialog {
    Q_OBJECT
public:
    explicit CComp_DialogFrame(QString title, QWidget* parent = nullptr);

    QWidget* titleBar = nullptr;
    QLabel* titleLabel = nullptr;
    QWidget* contentWidget = nullptr;
    QHBoxLayout* titleLayout = nullptr;
    QPushButton* okButton = nullptr;

public slots:
    virtual void acceptDialog();

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Holder of the rounded line-edit styles.
class C_Type_COM : public QWidget {
    Q_OBJECT
public:
    explicit C_Type_COM(QWidget* parent = nullptr);

    void setRoundedEditStyle(QWidget* edit, int type);
    void setEditBorderColors(QWidget* edit, QString normal, QString focus);

public slots:
    void initForm();
};

// The dark sheet of the touch panel's screens, rules in order.
QString commonStyleSheet();
void setCommonStyleSheet(QWidget* w, QString extra = QString());
void setTransparentTitleStyle(QWidget* dialog, QWidget* tabWidget);
QString colouredText(QString colour, QString text);
