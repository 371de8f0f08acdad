#pragma once

#include "ccomp_dialogframe.h"

class AdvanceParamWidget;
class CameraParamWidget;
class InputOutputParamWidget;
class QLabel;
class QTabWidget;
class RecordWidget;
class SystemParamWidget;

// The settings screen: five pages over the edit record and one OK that stores
// every page, applies the changes and closes.
class SystemParamDialog : public CComp_DialogFrame {
    Q_OBJECT
public:
    explicit SystemParamDialog(QWidget* parent = nullptr);
    ~SystemParamDialog() override;

    void saveAllTabs();
    void createTabs();
    void applyParamChanges();
    void powerOffDialog();

    // The language the system page's box shows; the apply step saves it for
    // the next start.
    void setChosenLanguage(int language) { m_chosenLanguage = language; }
    int chosenLanguage() const { return m_chosenLanguage; }

    QLabel* labVersion = nullptr;
    QTabWidget* tabWidget = nullptr;
    SystemParamWidget* systemWgt = nullptr;
    CameraParamWidget* cameraWgt = nullptr;
    InputOutputParamWidget* ioWgt = nullptr;
    AdvanceParamWidget* advanceWgt = nullptr;
    RecordWidget* recordWgt = nullptr;

public slots:
    void acceptDialog() override;
    void currentTabChanged(int index);
    void showModeChange(int mode);

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    // Closes the number pad and takes the focus from the served field, as OK
    // does; also run by any press on the dialog.
    void closeKeyboards();

    int m_mode = 0;
    int m_chosenLanguage = -1;
};
