#pragma once

#include <QList>
#include <QWidget>

class QStackedWidget;

// Title bar page of a camera tile; the repaint task refreshes it every 100 ms.
class CameraWgt_DataWidget_Title : public QWidget {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget_Title(QWidget* parent = nullptr);

    // Rewrites the title texts from the current state.
    virtual void updateTitle();
};

// One camera tile: a title stack above the camera picture.
class CameraWgt_DataWidget : public QWidget {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget(QWidget* parent = nullptr);

    // The title page on show, or null when the current page is not a title page.
    CameraWgt_DataWidget_Title* currentTitle() const;
    QStackedWidget* titleStack() const { return m_titleStack; }

private:
    QStackedWidget* m_titleStack;
};

// The box of camera tiles of the main screen, in camera order.
class CameraWgtBox : public QWidget {
    Q_OBJECT
public:
    explicit CameraWgtBox(QWidget* parent = nullptr);

    const QList<CameraWgt_DataWidget*>& tiles() const { return m_tiles; }
    void addTile(CameraWgt_DataWidget* tile);

private:
    QList<CameraWgt_DataWidget*> m_tiles;
};
