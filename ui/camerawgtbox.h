#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QWidget>

class CameraInterface;
class CameraReportForm;
class CameraWgt_DataWidget;
class CameraWgtBox;
class CammerWidget;
class MultipleBtnGroup;
class QLabel;
class QPushButton;
class QSplitter;
class QStackedWidget;

// Sets gTemplateTimeText from "./cammer<c+1><d+1>/template<n>.bmp" (n itself,
// not counted from 1). The area panel's GetTempTIme slot is this.
void setTemplateTimeText(int camera, int detect, int templateIndex);

// The status line of a tile's title: camera, detect, run state and the delay
// left, as rich text. Exposed for the title and its tests.
QString titleStatusText(int camera);

// Title bar page of a camera tile; the repaint task refreshes it every 100 ms.
class CameraWgt_DataWidget_Title : public QWidget {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget_Title(QWidget* parent = nullptr);

    // Rewrites the status line from the current state.
    virtual void updateTitle();
    // Camera label in the all-cameras view, camera selector in the single view.
    virtual void setSingleView(bool single);

    int camera() const { return m_camera; }
    CameraWgt_DataWidget* tile() const { return m_tile; }

protected:
    // Tells the tile's layouts that the title's least size changed.
    void refit();

    CameraWgt_DataWidget* m_tile = nullptr;
    int m_camera = -1;
    QLabel* m_cameraLabel = nullptr;
    MultipleBtnGroup* m_selector = nullptr;
    QLabel* m_runStatus = nullptr;
};

// Run-mode title: frame rate, counters and the large OK/NG label.
class CameraWgt_DataWidget_Title_Normal : public CameraWgt_DataWidget_Title {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget_Title_Normal(QWidget* parent = nullptr);

    void updateTitle() override;

private:
    QLabel* m_report = nullptr;
    QLabel* m_result = nullptr;
};

// Area-setting title: the template or picture information of the area editor.
class CameraWgt_DataWidget_Title_SetROI : public CameraWgt_DataWidget_Title {
    Q_OBJECT
public:
    explicit CameraWgt_DataWidget_Title_SetROI(QWidget* parent = nullptr);

    void setSingleView(bool single) override;
    void setText(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_info = nullptr;
};

// One camera tile: a title stack above the camera view and its result table.
class CameraWgt_DataWidget : public QWidget {
    Q_OBJECT
public:
    // The parent must be the grid; under any other parent the tile builds
    // only its (empty) title stack.
    explicit CameraWgt_DataWidget(int camera = -1, QWidget* parent = nullptr);

    // The title page on show, or null when the current page is not a title page.
    CameraWgt_DataWidget_Title* currentTitle() const;
    QStackedWidget* titleStack() const { return m_titleStack; }

    void setLayoutMode(int mode);
    int layoutMode() const { return m_layoutMode; }
    void showForCamera(int camera);
    void setScreenMode(int mode);
    CameraWgt_DataWidget_Title_SetROI* showSetROITitle();

    int camera() const { return m_camera; }
    CameraWgtBox* grid() const { return m_grid; }
    CammerWidget* cammerWidget() const { return m_view; }
    CameraReportForm* reportForm() const { return m_report; }

signals:
    // Show this camera alone (-1: all cameras).
    void sigChangeCameraLayout(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int m_camera;
    int m_layoutMode = 0;
    CameraWgtBox* m_grid = nullptr;
    CameraInterface* m_driver = nullptr;
    QStackedWidget* m_titleStack = nullptr;
    CammerWidget* m_view = nullptr;
    CameraReportForm* m_report = nullptr;
    QPushButton* m_hideButton = nullptr;
    int m_viewHeight = 0;
};

// The grid of camera tiles of the main screen, in camera order.
class CameraWgtBox : public QMainWindow {
    Q_OBJECT
public:
    CameraWgtBox(QList<CameraInterface*> cameras, QWidget* parent = nullptr);
    // A grid without cameras, tiles added by hand.
    explicit CameraWgtBox(QWidget* parent = nullptr);

    CammerWidget* cammerWidget(int index) const;
    CameraWgt_DataWidget* dataWidget(int index) const;
    const QList<CameraWgt_DataWidget*>& tiles() const { return m_tiles; }
    const QList<CameraInterface*>& cameras() const { return m_cameras; }
    QSplitter* outerSplitter() const { return m_outer; }

    // Appends a tile made elsewhere to the last row.
    void addTile(CameraWgt_DataWidget* tile);

    // Tiles per row and layout mode for a number of cameras.
    static int tilesPerRow(int cameras);
    static int layoutModeFor(int cameras);

public slots:
    void slotChangeCameraLayout(int index);

private:
    void resetSplitSizes();
    // Every row the same height, every tile of a row the same width.
    void equaliseSplitSizes();

    QList<CameraInterface*> m_cameras;
    QSplitter* m_outer = nullptr;
    QList<CameraWgt_DataWidget*> m_tiles;
};
