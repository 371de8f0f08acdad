#pragma once

#include <QDialog>
#include <QString>

class QPushButton;

// The version library's small box: a message in red with no, one ("确定") or
// two ("是", "否") buttons, drawn inside the dialog at a given place.
class v_SelectBox : public QDialog {
    Q_OBJECT
public:
    v_SelectBox(int x, int y, QWidget* parent, int buttons);

    void setMessage(const QString& text);

    QPushButton* firstButton = nullptr;
    QPushButton* secondButton = nullptr;
    QString message;
    int boxX = 0;
    int boxY = 0;
    int buttonCount = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void applyGeometry();
};
