// Screenshot tour of the area-setting panel on the real main window: built as
// the program builds it, in a working folder of its own on the factory
// parameters, with the two simulated cameras replaying the demo's mould
// pictures and each camera's cavities as defect areas over the empty mould's
// template. The first manual trigger (the empty mould) passes; the second (a
// part left) is a real NG judged by the engine, which brings up the alarm
// review and leaves a recent NG picture and an NG record picture behind.
// Shots, each with the camera tiles and the titles the panel gives them:
// template tools, area tools, alarm review live (all cameras and the NG
// camera alone) and template, recent NG, NG records with a picture, and the
// help screen beside the area tools.
// Usage: areapaneltour <output folder> <width> <height>
// The window takes the screen's size, so it runs on a display of that size
// (scripts/screen-tour.sh starts a virtual one); pictures go to
// <output folder>/<width>x<height>/<language>/.
#include "cammerwidget.h"
#include "camerastation.h"
#include "colorbutton.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "helpwidget.h"
#include "promptanswerer.h"
#include "savefialimagethread.h"
#include "texttable.h"
#include "vezirevoru.h"
#include "windowtourrig.h"

#include <QApplication>
#include <QDir>

#include <memory>

namespace {

using namespace windowtour;

// The panel's combo boxes as the operator taps them.
void choose(ComboBox* box, int index)
{
    box->setCurrentIndex(index);
    QApplication::processEvents();
}

void tour()
{
    Session session;
    if (!session.window()) {
        return;
    }
    VeZiRevoru& w = *session.window();
    DrawROIWidget& panel = *w.pDrawROIWidget;

    // The empty mould passes: the cameras hold a picture to set areas on.
    if (!manualCavityTrigger(w)) {
        fail(QStringLiteral("the first trigger was not judged"));
    }

    // 1. Area setting from the menu column, on the cavity detect's template.
    w.SlotAdjustArea();
    if (w.state().screenMode() != AreaSetting) {
        fail(QStringLiteral("area setting did not open"));
    }
    choose(panel.pComboChangeDetect, kCavityDetect);
    shoot(w, QStringLiteral("01-template-tools"));

    // 2. The area tools, with the first area selected so that its
    // parameters show.
    panel.SlotChangeOp();
    w.pCammer[w.state().shownCamera()]->station().selectedRoi = 0;
    w.pCammer[w.state().shownCamera()]->UpdateParaPanel();
    shoot(w, QStringLiteral("02-area-tools"));
    w.pCammer[w.state().shownCamera()]->ClearSelection();
    panel.SlotReturn();

    // 3. A part left: the final NG brings up the alarm review on every camera.
    if (!manualCavityTrigger(w) || !waitFor([&w] { return w.state().screenMode() == Alarm; }, 2000)) {
        fail(QStringLiteral("the part left did not raise the alarm (screen mode %1)").arg(int(w.state().screenMode())));
    }
    shoot(w, QStringLiteral("03-alarm-review-live"));

    // 4. The first camera alone, live, then its template.
    choose(panel.pComboChangeCamera, 0);
    shoot(w, QStringLiteral("04-alarm-review-live-camera1"));
    panel.SlotAutoChange();
    if (gImageSource != 0) {
        fail(QStringLiteral("the alarm review did not turn to the template"));
    }
    shoot(w, QStringLiteral("05-alarm-review-template"));
    panel.SlotAutoChange();

    // The alarm ends with "not this mould" on all cameras; then the NG
    // picture writer stores the NG camera's picture (with how the alarm was
    // cleared) in the records.
    choose(panel.pComboChangeCamera, gCameraCount);
    {
        PromptAnswerer confirm({1});
        panel.SlotNoCheckCur();
    }
    if (!waitFor([&w] { return w.state().screenMode() != Alarm; }, 2000)) {
        fail(QStringLiteral("the alarm did not end"));
    }
    const QString records = SaveFialImageThread::folderOf(0, kCavityDetect, 0);
    if (!waitFor([&records] { return !QDir(records).entryList({QStringLiteral("*.jpg")}).isEmpty(); }, 5000)) {
        fail(QStringLiteral("no NG record picture in %1").arg(records));
    }

    // 6. Area setting again: the recent NG pictures and the NG records of the
    // first camera's cavity detect.
    w.SlotAdjustArea();
    choose(panel.pComboChangeSource, 2);
    choose(panel.pComboChangeDetect, kCavityDetect);
    shoot(w, QStringLiteral("06-recent-ng"));
    choose(panel.pComboChangeSource, 4);
    if (panel.recordCount == 0 || panel.recordImage.isNull()) {
        fail(QStringLiteral("the NG records show no picture"));
    }
    shoot(w, QStringLiteral("07-ng-records"));

    // 8. The help screen over the tiles, beside the tools it explains.
    choose(panel.pComboChangeSource, 0);
    panel.SlotChangeOp();
    panel.pCButtonHelp->click();
    if (!w.pHelpWidget->isVisible()) {
        fail(QStringLiteral("the help button showed no help"));
    }
    shoot(w, QStringLiteral("08-help"));
    panel.SlotReturn();
    if (w.pHelpWidget->isVisible()) {
        fail(QStringLiteral("the help stayed after area setting ended"));
    }

}

} // namespace

int main(int argc, char* argv[])
{
    setProgram("areapaneltour");
    return shootAll(argc, argv, tour);
}
