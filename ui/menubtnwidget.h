#pragma once

#include <QWidget>

class QPushButton;
class QStackedWidget;

// Page 0 of the menu column: the logo and the six large function buttons.
class Main_MenuBtnWidget : public QWidget {
    Q_OBJECT
public:
    explicit Main_MenuBtnWidget(QWidget* parent = nullptr);

signals:
    void sigSystemPara();
    void sigAdjustArea();
    void sigShowStatisticsWidget();
    void sigTemperatureChart();
    // A manual snapshot of a detect: 1 cavity, 0 product.
    void sigManualTrig(int detect);

protected:
    // The logo is loaded at every showing, scaled to the button's size then.
    void showEvent(QShowEvent* event) override;
};

// The 100-pixel column at the right of the main screen: the main menu
// (page 0) or the area-setting panel (page 1).
class MenuBtnWidget : public QWidget {
    Q_OBJECT
public:
    explicit MenuBtnWidget(QWidget* parent = nullptr);

    // Puts the area-setting panel on page 1 (named "_DrawROI_MenuBtn"),
    // replacing the empty page the column starts with.
    void setAreaPanel(QWidget* panel);
    QWidget* areaPanel() const;
    Main_MenuBtnWidget* mainMenu() const { return m_menu; }
    QStackedWidget* pages() const { return m_pages; }

    // Screen mode 0 → menu; 2 and 3 → area panel; others keep the page.
    void SetMenuPage(int mode);

private:
    QStackedWidget* m_pages;
    Main_MenuBtnWidget* m_menu;
};
