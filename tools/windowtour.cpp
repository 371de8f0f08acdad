// Screenshot tour of the real main window: built as the program builds it, in
// a working folder of its own on the factory parameters, with the two
// simulated cameras replaying the demo's mould pictures. Each camera has its
// cavities as defect areas over the empty mould's template, so the first
// manual trigger (the empty mould) passes and the second (a part left in one
// cavity) is a real NG that brings up the alarm. Shots: all cameras, one
// camera, area setting with the area panel and its help screen, the alarm,
// and the large message box over it.
// Usage: windowtour <output folder> <width> <height>
// The window takes the screen's size, so it runs on a display of that size
// (scripts/screen-tour.sh starts a virtual one); pictures go to
// <output folder>/<width>x<height>/<language>/.
#include "camerawgtbox.h"
#include "cammerwidget.h"
#include "drawroiwidget.h"
#include "globals.h"
#include "promptanswerer.h"
#include "texttable.h"
#include "vezirevoru.h"
#include "warnbox.h"
#include "windowtourrig.h"

#include <QtTest>

#include <memory>

namespace {

using namespace windowtour;

void tour()
{
    Session session;
    if (!session.window()) {
        return;
    }
    VeZiRevoru& w = *session.window();

    // 1. Both cameras' first pictures: the empty mould.
    if (!manualCavityTrigger(w)) {
        fail(QStringLiteral("the first trigger was not judged"));
    }
    shoot(w, QStringLiteral("all-cameras"));

    // 2. A tap on the second camera's picture shows it alone.
    QTest::mouseClick(w.pCameraWgtBox->cammerWidget(1), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    shoot(w, QStringLiteral("one-camera"));
    w.state().setShownCamera(gCameraCount);
    w.ChangeCammer();

    // 3. Area setting from the menu column.
    w.SlotAdjustArea();
    if (w.state().screenMode() != AreaSetting) {
        fail(QStringLiteral("area setting did not open"));
    }
    shoot(w, QStringLiteral("area-setting"));
    // The help screen at this screen's size.
    w.pDrawROIWidget->pCButtonHelp->click();
    shoot(w, QStringLiteral("area-setting-help"));
    w.pDrawROIWidget->SlotReturn();

    // 4. The second picture has a part left in a cavity: the alarm.
    w.state().setScreenMode(Live);
    if (!manualCavityTrigger(w) || !waitFor([&w] { return w.state().screenMode() == Alarm; }, 2000)) {
        fail(QStringLiteral("the part left did not raise the alarm (screen mode %1)").arg(int(w.state().screenMode())));
    }
    shoot(w, QStringLiteral("alarm"));

    // 5. The large message box over the alarm, as it comes on a dark screen.
    {
        WarnBox box;
        box.setMessage(textOf(39));
        box.show();
        shoot(w, QStringLiteral("alarm-large-box"));
    }

}

} // namespace

int main(int argc, char* argv[])
{
    setProgram("windowtour");
    return shootAll(argc, argv, tour);
}
