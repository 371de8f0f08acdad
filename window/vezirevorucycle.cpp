// The main window's side of the inspection cycle: the slots hand on to the
// CycleController, and the controller reaches the screens, the records, the
// Modbus server and the pictures through the window's CycleHost.

#include "vezirevoru.h"

#include "camerastation.h"
#include "controlport.h"
#include "cyclecontroller.h"
#include "failimagecomposer.h"
#include "failimageslots.h"
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
    // given later (construction step 13 makes it, step 25 hands it on).
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
    gpSaveFialImageThread->onWriteFailure = [this](const QString& folder) {
        QMetaObject::invokeMethod(
            this, [folder] { warnOperator(textOf(CycleText::PictureFolderFailed).arg(folder)); },
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
