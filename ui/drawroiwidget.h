#pragma once

#include "areaediting.h"
#include "filelisting.h"
#include "picturereadahead.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class AreaPanelHost;
class CameraStation;
class CammerWidget;
class QPushButton;
class ComboBox;
class QAbstractButton;

// The tool column of area setting and of the alarm review: chooses what the
// camera tiles show, offers the tools of the current source and state and
// carries the drawing, template, saving and alarm commands. The main window
// holds the one instance and implements AreaPanelHost for it.
//
// Every command that asks the operator checks afterwards that the view it
// asked about is still the one on screen: the cycle runs under each box, and
// a final NG re-enters area mode while a question is open.
class DrawROIWidget : public QWidget {
    Q_OBJECT
public:
    explicit DrawROIWidget(QWidget* parent = nullptr);
    ~DrawROIWidget() override;

    void setHost(AreaPanelHost* host) { m_host = host; }
    // The service the commands save, delete and sample through; it writes the
    // operation log. The panel starts with one that logs nowhere.
    void setAreaEditing(std::unique_ptr<AreaEditing> service);
    AreaEditing& areaEditing() { return *m_areaEditing; }

    void EnterAreaMode(bool toggleOp = false);
    void LeaveAreaMode();
    void SetSourceIndex(int index);
    // Reads the time of a template file into gTemplateTimeText.
    void GetTempTIme(int c, int d, int n);
    void LoadPic();

    QString recordName;
    QImage recordImage;
    int recordCamera = 0;
    int recordDetect = 0;
    int recordCount = 0;
    int recordKind = 0;
    int recordIndex = 0;
    int editingAreas = 0;

    QPushButton* pCButtonReturn = nullptr;
    ComboBox* pComboChangeSource = nullptr;
    ComboBox* pComboChangeCamera = nullptr;
    ComboBox* pComboChangeDetect = nullptr;
    QPushButton* pCButtonChangeOp = nullptr;
    QPushButton* pCButtonEditArea = nullptr;
    QPushButton* pCButtonNoCheckCur = nullptr;
    QPushButton* pCButtonDrawRect = nullptr;
    QPushButton* pCButtonTempLast = nullptr;
    QPushButton* pCButtonAddTemp = nullptr;
    QPushButton* pCButtonDrawCircle = nullptr;
    QPushButton* pCButtonTempNext = nullptr;
    QPushButton* pCButtonDrawPloygn = nullptr;
    QPushButton* pCButtonTempDeleteCur = nullptr;
    QPushButton* pCButtonDrawHand = nullptr;
    QPushButton* pCButtonCopyArea = nullptr;
    QPushButton* pCButtonDeleteROI = nullptr;
    QPushButton* pCButtonReCheck = nullptr;
    QPushButton* pCButtonDeleteAllROI = nullptr;
    QPushButton* pCButtonAutoChange = nullptr;
    // Shown with every set of tools; the window opens its help screen.
    QPushButton* pCButtonHelp = nullptr;

    quint8 refreshOnTemplate = 0;

    // Refills the camera and detect combo boxes from gCameraCount, gDetectCount
    // and the machine type (the window calls it once the cameras are open).
    void FillCombos();

    // The tools shown for the current source and state, one bit per widget
    // in layout order (the help button last).
    quint32 shownWidgets();

signals:
    void recentNgImg(QString imgInfo);
    void helpRequested();

public slots:
    void SlotChangeSource(int source);
    void SlotChangeCamera(int index);
    void SlotChangeDetect(int detect);
    void SlotChangeOp();
    void SlotChangePage();
    void SlotReturn();
    void SlotSaveData();

    void SlotDrawRect();
    void SlotDrawCircle();
    void SlotDrawHand();
    void SlotDrawPloygn();
    void SlotCopyArea();
    void SlotDeleteROI();
    void SlotDeleteAllROI();

    void SlotAddTemp();
    void SlotTempDeleteCur();
    void SlotTempDeleteAll();
    void SlotTempLast();
    void SlotTempNext();
    void SlotTempList(int n);

    void SlotReCheck();
    void SlotNoCheckCur();
    void SlotAutoChange();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct ViewState {
        int screenMode, source, camera, detect, selected, sample, entries;
        bool operator==(const ViewState& o) const
        {
            return screenMode == o.screenMode && source == o.source && camera == o.camera && detect == o.detect
                   && selected == o.selected && sample == o.sample && entries == o.entries;
        }
    };
    ViewState viewState();
    int ask(const QString& question);
    void warn(const QString& message);
    bool oneCameraShown();
    CammerWidget* shownCammer();
    CameraStation* shownStation();
    void setCombo(ComboBox* box, int index, void (DrawROIWidget::*slot)(int));
    void showTemplate(int slot);
    void showRecent(int step);
    void browseRecords(int step);
    void emitRecordTitle();
    bool accessFor(int passwordParam);
    // The stations by camera, for the area service.
    AreaEditing::Stations stations();
    void fitHeights(quint32 mask);
    void setCaption(QPushButton* button, const QString& caption);
    void fitCaption(QPushButton* button);
    void selectQuietly(ComboBox* box, int index);
    void fitComboFont(ComboBox* box);
    void fitComboFonts();
    void endDrawing(CammerWidget* cw);

    AreaPanelHost* m_host = nullptr;
    std::unique_ptr<AreaEditing> m_areaEditing;
    NewestFirstListing m_recordListing;
    // The record pictures next to the one shown, decoded while the operator
    // looks at it.
    PictureReadAhead m_recordPictures;
    QList<QWidget*> m_widgets;
    int m_entries = 0;
    int m_boxDepth = 0;
};
