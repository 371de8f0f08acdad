// The main window's side of the inspection cycle: the slots hand on to the
// CycleController, and the controller reaches the screens, the records, the
// Modbus server and the pictures through the window's CycleHost.

#include "vezirevoru.h"

#include "helpwidget.h"

#include "cameraregistry.h"
#include "camerareportform.h"
#include "camerastation.h"
#include "camerawgtbox.h"
#include "controlport.h"
#include "cyclecontroller.h"
#include "failimagecomposer.h"
#include "failimageslots.h"
#include "imagepickform.h"
#include "inputbox.h"
#include "drawroiwidget.h"
#include "helpwidget.h"
#include "iothread.h"
#include "modbusserver.h"
#include "operatorprompt.h"
#include "platformhelpers.h"
#include "rawframestore.h"
#include "resultstatistics.h"
#include "savefialimagethread.h"
#include "systemparam.h"
#include "temperaturechartdata.h"
#include "texttable.h"
#include "warnbox.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

namespace {

class WindowCycleHost : public QObject, public CycleHost {
public:
    WindowCycleHost(VeZiRevoru* window, QObject* parent) : QObject(parent), w(window) {}

    CameraStation* station(int c) const
    {
        return w->pCycle && c >= 0 && c < w->pCycle->cameraCount() ? w->pCycle->stations[size_t(c)] : nullptr;
    }

    void showWarning(const QString& text) override
    {
        if (!gpWarnbox) {
            gpWarnbox = new Warnbox;
        }
        gpWarnbox->setMessage(text);
        gpWarnbox->show();
    }
    void hideWarning() override
    {
        if (gpWarnbox) {
            gpWarnbox->hide();
        }
    }
    void insertRecord(const QString& text) override { w->InsertRecord(text); }
    void setReadData(int reg, int value) override
    {
        if (w->pModbusServer) {
            w->pModbusServer->setReadData(reg, quint16(value));
        }
    }
    void publishCounters() override { w->PublishCounters(); }
    void publishCycleValues() override { w->PublishCycleValues(); }
    void clearCycleValues() override { w->cycleValues.clear(); }
    bool countWrite() override
    {
        w->CountWrite();
        return true;
    }
    void checkDayChange() override
    {
        if (gpResultStatistics) {
            gpResultStatistics->checkDayChange();
        }
    }
    void stampRoundStart() override
    {
        if (gpTemperatureChartData) {
            DetectResult result = gpTemperatureChartData->detectResult;
            result.roundstart = QDateTime::currentDateTime();
            gpTemperatureChartData->setDetectResult(result);
        }
    }
    void addStatistics(int hour, int ok, int camera, int detect) override
    {
        if (gpResultStatistics) {
            gpResultStatistics->addResult(hour, ok != 0, camera, detect);
        }
    }
    void setBacklightOn() override
    {
        if (w->backlightOff != 0) {
            setBacklight(true);
            if (gpSystemParam && gpSystemParam->screenOffSec() > 0 && w->pBacklightTimer) {
                w->pBacklightTimer->start(timerIntervalMs(gpSystemParam->screenOffMs()));
            }
        }
    }
    void repaint() override { w->update(); }
    bool ask(const QString& text) override { return askOperator(text, 2) == 1; }
    int checkUserLogin() override { return w->CheckUserLogin(); }
    bool passwordBox() override
    {
        inputbox box(1, nullptr);
        return box.exec() == QDialog::Accepted && w->state().userLevel() != UserNone;
    }
    // A final NG: the alarm review over the live pictures of the NG cameras.
    void enterAlarmScreen(int curCamera) override
    {
        // The alarm review takes the screen: no help page may cover it.
        if (w->pHelpWidget) {
            w->pHelpWidget->hide();
        }
        if (w->pImgForm) {
            w->pImgForm->selectSource(1);
            w->pImgForm->selectCamera(curCamera);
        }
        if (w->pDrawROIWidget) {
            w->pDrawROIWidget->EnterAreaMode(false);
        }
        w->SetScreenMode(Alarm);
    }
    // A passing evaluation ends the alarm review.
    void leaveAlarmScreen(int) override
    {
        if (w->pDrawROIWidget) {
            w->pDrawROIWidget->LeaveAreaMode();
        }
        w->SetScreenMode(Live);
    }
    bool panelReCheck() override
    {
        if (!w->pDrawROIWidget) {
            return false;
        }
        w->pDrawROIWidget->SlotReCheck();
        return true;
    }
    bool areaPanelVisible() override { return w->pDrawROIWidget && w->pDrawROIWidget->isVisible(); }
    // After re-sampling the operator reviews the areas on the new templates.
    void enterSamplingReview() override
    {
        if (w->pDrawROIWidget) {
            w->pDrawROIWidget->EnterAreaMode(false);
            w->pDrawROIWidget->hide();
        }
        w->SetScreenMode(AreaSetting);
    }
    void tempDeleteAll() override
    {
        if (w->pDrawROIWidget) {
            w->pDrawROIWidget->SlotTempDeleteAll();
        }
    }
    // Re-sampling keeps the cameras where the operator put them: the order
    // of gCameraOrder is written again, never cleared.
    void saveCameraSerials() override { ::saveCameraSerials(0); }
    void updateReportForms() override
    {
        if (!w->pCameraWgtBox || !w->pCycle) {
            return;
        }
        for (CameraWgt_DataWidget* tile : w->pCameraWgtBox->tiles()) {
            CameraReportForm* form = tile->reportForm();
            if (!form || tile->camera() < 0) {
                continue;
            }
            QList<CameraReportForm_Item> items;
            for (const CycleReportRow& row : w->pCycle->reportItems(tile->camera())) {
                CameraReportForm_Item item;
                item.index = row.index;
                item.toolName = row.toolName;
                item.lower = row.lower;
                item.upper = row.upper;
                item.value = row.value;
                item.ok = row.ok;
                items.append(item);
            }
            form->setReportItems(items);
        }
    }
    void warnModal(const QString& text) override { warnOperator(text); }
    void saveFailImage(int c, int d, int kind) override
    {
        if (CameraStation* st = station(c)) {
            FailImageComposer::SaveFailImage(*st, d, kind, w->pCycle->doorTrigger != 0);
        }
    }
    void updateFailImage(int c, int d, int kind, int state) override
    {
        if (CameraStation* st = station(c)) {
            FailImageComposer::UpdateFailImage(*st, d, kind, state);
        }
    }
    bool saveRawFrame(int c, int d) override
    {
        CameraStation* st = station(c);
        return st && RawFrameStore::save(*st, d, w->grayTable);
    }

private:
    VeZiRevoru* w;
};

} // namespace

CycleController* VeZiRevoru::createCycle()
{
    // The host belongs to the window like the controller. The I/O link is
    // given later (made when the board's link is opened, handed on once the
    // stations exist).
    auto* windowHost = new WindowCycleHost(this, this);
    return new CycleController(nullptr, windowHost, this);
}

void VeZiRevoru::StartCycle(const std::vector<CameraStation*>& stations)
{
    pCycle->setPort(gpControlPort);
    pCycle->stations = stations;
    pCycle->manualTrigDetect = gDetectCount;
    if (gpControlPort && gpControlPort->ioThread()) {
        connect(gpControlPort->ioThread(), &IOThread::sigIOChange, pCycle, &CycleController::Run,
                Qt::UniqueConnection);
    }
}

void VeZiRevoru::AllocateFailImages(const std::vector<CameraStation*>& stations)
{
    std::vector<QSize> sizes;
    for (CameraStation* st : stations) {
        sizes.push_back(st ? QSize(st->data.imageWidth, st->data.imageHeight) : QSize());
    }
    FailImageSlots::allocate(sizes, gDetectCount);
    SaveFialImageThread::makeFolders(int(stations.size()));
}

void VeZiRevoru::StartFailImageWriter()
{
    if (gpSaveFialImageThread) {
        return;
    }
    gpSaveFialImageThread = new SaveFialImageThread;
    gpSaveFialImageThread->cameraCount = pCycle ? pCycle->cameraCount() : 0;
    gpSaveFialImageThread->detectCount = gDetectCount;
    // Told once per outage, on the GUI thread.
    gpSaveFialImageThread->onWriteFailure = [](const QString& folder) {
        QMetaObject::invokeMethod(
            qApp, [folder] { warnOperator(textOf(CycleText::PictureFolderFailed).arg(folder)); },
            Qt::QueuedConnection);
    };
    gpSaveFialImageThread->startWriting();
}

void VeZiRevoru::Run() { pCycle->Run(); }

#define KORVANE_CYCLE_DELEGATE(call) pCycle->call;

void VeZiRevoru::TimerUp(int k) { KORVANE_CYCLE_DELEGATE(TimerUp(k)) }
void VeZiRevoru::TimerShow() { KORVANE_CYCLE_DELEGATE(TimerShow()) }
void VeZiRevoru::InCheck() { KORVANE_CYCLE_DELEGATE(InCheck()) }
void VeZiRevoru::StartDetect() { KORVANE_CYCLE_DELEGATE(StartDetect()) }
void VeZiRevoru::StopDetect() { KORVANE_CYCLE_DELEGATE(StopDetect()) }
void VeZiRevoru::SetStopDetect() { KORVANE_CYCLE_DELEGATE(SetStopDetect()) }
void VeZiRevoru::ResetRun() { KORVANE_CYCLE_DELEGATE(ResetRun()) }
void VeZiRevoru::SlotStartStop() { KORVANE_CYCLE_DELEGATE(SlotStartStop()) }
void VeZiRevoru::SlotManualTrig(int detect) { KORVANE_CYCLE_DELEGATE(SlotManualTrig(detect)) }
void VeZiRevoru::RunAlgorithm(int camera, int detect) { KORVANE_CYCLE_DELEGATE(RunAlgorithm(camera, detect)) }
void VeZiRevoru::CheckNG(bool isClearNG) { KORVANE_CYCLE_DELEGATE(CheckNG(isClearNG)) }
void VeZiRevoru::OutTimerOutNG() { KORVANE_CYCLE_DELEGATE(OutTimerOutNG()) }
void VeZiRevoru::OutTimerNotAllowClose() { KORVANE_CYCLE_DELEGATE(OutTimerNotAllowClose()) }
void VeZiRevoru::OutTimerNotAllowThimble() { KORVANE_CYCLE_DELEGATE(OutTimerNotAllowThimble()) }
void VeZiRevoru::SlotReTrain() { KORVANE_CYCLE_DELEGATE(SlotReTrain()) }
void VeZiRevoru::BackTrain() { KORVANE_CYCLE_DELEGATE(BackTrain()) }

#undef KORVANE_CYCLE_DELEGATE
