#pragma once

#include <QWidget>

class DrawROIWidget;
class QPushButton;
class QStackedWidget;

// Page 0 of the menu column: the main menu. The main window connects the
// buttons to its slots.
class Main_MenuBtnWidget : public QWidget {
    Q_OBJECT
public:
    explicit Main_MenuBtnWidget(QWidget* parent = nullptr);

    QPushButton* pBtnSetSystem;
    QPushButton* pBtnSetROI;
    QPushButton* pBtnStatistics;
    QPushButton* pBtnTemperatureChart;
    QPushButton* pBtnCavityManual;
    QPushButton* pBtnProductManual;
};

// The menu column beside the tiles: page 0 the main menu, page 1 the area panel.
class MenuBtnWidget : public QWidget {
    Q_OBJECT
public:
    explicit MenuBtnWidget(QWidget* parent = nullptr);

    // 0 shows the main menu, 2 and 3 the area panel; anything else repaints.
    void SetMenuPage(int mode);
    int currentPage() const;

    Main_MenuBtnWidget* mainMenu() const { return m_mainMenu; }
    DrawROIWidget* drawROIWidget() const { return m_drawROI; }

private:
    QStackedWidget* m_pages;
    Main_MenuBtnWidget* m_mainMenu;
    DrawROIWidget* m_drawROI;
};
