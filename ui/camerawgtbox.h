#pragma once

#include <QLabel>
#include <QList>
#include <QWidget>

class CameraInterface;
class CammerWidget;
class QStackedWidget;

// Title bar page of a camera tile; the repaint task refreshes it every 100 ms.
class CameraWgt_DataWidget_Title : public QWidget {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget_Title(QWidget* parent = nullptr);

    // Rewrites the title texts from the current state.
    virtual void updateTitle();
};

// The title shown while areas are set or an alarm is reviewed: it carries the
// information line of the template or picture on show.
class CameraWgt_DataWidget_Title_SetROI : public CameraWgt_DataWidget_Title {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget_Title_SetROI(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;

private:
    QLabel* m_info;
};

// One camera tile: a title stack above the camera station.
class CameraWgt_DataWidget : public QWidget {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget(QWidget* parent = nullptr);
    // The tile of one camera: builds that camera's station.
    CameraWgt_DataWidget(int camera, CameraInterface* driver, QWidget* parent);

    // The title page on show, or null when the current page is not a title page.
    CameraWgt_DataWidget_Title* currentTitle() const;
    QStackedWidget* titleStack() const { return m_titleStack; }
    CammerWidget* cammerWidget() const { return m_station; }
    int camera() const { return m_camera; }

    // 0 and 1: run title; 2 and 3: area-setting title.
    void setScreenMode(int mode);
    int screenMode() const { return m_screenMode; }
    // Visible when camera is -1 or this tile's own camera.
    void showForCamera(int camera);
    bool shownAlone() const { return m_shownAlone; }
    CameraWgt_DataWidget_Title_SetROI* showSetROITitle();

signals:
    void sigChangeCameraLayout(int camera);

private:
    void buildTitles();

    QStackedWidget* m_titleStack;
    CameraWgt_DataWidget_Title* m_runTitle = nullptr;
    CameraWgt_DataWidget_Title_SetROI* m_setRoiTitle = nullptr;
    CammerWidget* m_station = nullptr;
    int m_camera = -1;
    int m_screenMode = 0;
    bool m_shownAlone = false;
};

// The box of camera tiles of the main screen, in camera order.
class CameraWgtBox : public QWidget {
    Q_OBJECT
public:
    explicit CameraWgtBox(QWidget* parent = nullptr);
    // One tile (and camera station) per opened camera, in list order.
    CameraWgtBox(const QList<CameraInterface*>& cameras, QWidget* parent);

    const QList<CameraWgt_DataWidget*>& tiles() const { return m_tiles; }
    void addTile(CameraWgt_DataWidget* tile);
    CammerWidget* cammerWidget(int index) const;
    CameraWgt_DataWidget* dataWidget(int index) const;

public slots:
    // -1 shows every tile, any other index only that camera's tile.
    void slotChangeCameraLayout(int index);

private:
    QList<CameraWgt_DataWidget*> m_tiles;
};
