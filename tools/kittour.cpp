// Screenshot tour of the widget kit: every box, keyboard and picker drawn
// where it stands on the panel, one PNG each, for one screen size and the
// four languages. Usage: kittour <output folder> <width> <height>
// Pictures go to <output folder>/<width>x<height>/<language>/.
#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "datetimewidget.h"
#include "edit.h"
#include "globals.h"
#include "inputbox.h"
#include "kithost.h"
#include "numberkeypad.h"
#include "rollingtime.h"
#include "slider.h"
#include "systemclock.h"
#include "texttable.h"
#include "toursupport.h"
#include "warnbox.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>

#include <functional>
#include <memory>

namespace {

void release(Edit* field)
{
    QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(field, &focusIn);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(field, &up);
}

// A message as long as the screens send: the longest text of the table.
QString longestText()
{
    QString longest;
    for (int i = 0; i < TextCount; ++i) {
        if (textOf(i).size() > longest.size()) {
            longest = textOf(i);
        }
    }
    return longest;
}

void tour()
{
    const QString longMessage = longestText();
    for (const QString& message : {QString(), longMessage}) {
        const QString suffix = message.isEmpty() ? QStringLiteral("empty") : QStringLiteral("longest");
        {
            Warnbox box;
            box.setMessage(message);
            shoot(QStringLiteral("warnbox_") + suffix, {&box});
        }
        {
            WarnBox box;
            box.setMessage(message);
            shoot(QStringLiteral("largebox_") + suffix, {&box});
        }
        for (int buttons : {1, 2}) {
            tipbox box(buttons);
            box.setMessage(message);
            shoot(QStringLiteral("tipbox%1_").arg(buttons) + suffix, {&box});
        }
    }
    {
        inputbox box(1);
        // Shown and settled first: the focus it hands out on showing would
        // otherwise close the pad again.
        box.show();
        QApplication::processEvents();
        release(box.passwordEdit);
        shoot(QStringLiteral("inputbox_pad"), {&box});
    }
    {
        CComp_DialogFrame frame(textOf(121));
        setCommonStyleSheet(&frame);
        frame.resize(1000, 800);
        // The frame is sized for the 1920 x 1080 panel; on a smaller screen it
        // starts at the top edge so that its title bar stays in the picture.
        frame.move(qMax(0, (gScreenWidth - 1000) / 2), qMax(0, (gScreenHeight - 800) / 2));
        auto* box = new EditBox(30, 9999, frame.contentWidget, textOf(121), QStringLiteral("ms"));
        box->move(20, 40);
        box->setValue(150);
        auto* scaled = new EditBox(0, 1000, frame.contentWidget, textOf(157), QStringLiteral("mm"), 2, 10);
        scaled->move(20, 120);
        scaled->setValue(155);
        auto* check = new CheckBox(frame.contentWidget, textOf(158));
        check->move(60, 200);
        check->setValue(1);
        auto* slider = new Slider(0, 255, 1, 100, frame.contentWidget, QStringLiteral("阈值"));
        slider->setGeometry(20, 280, 960, 60);
        shoot(QStringLiteral("frame_valueboxes_slider"), {&frame});
        QApplication::processEvents();
        release(box->edit);
        shoot(QStringLiteral("frame_valuebox_pad"), {&frame});
    }
    {
        QWidget panel;
        panel.resize(gScreenWidth, gScreenHeight);
        panel.move(0, 0);
        panel.setStyleSheet(QStringLiteral("background-color: #1E1E1E;"));
        auto* letters = new Edit(2, &panel, 1);
        letters->setGeometry(100, 100, 300, 50);
        auto* numbers = new Edit(1, &panel, 1);
        numbers->setGeometry(gScreenWidth - 200, gScreenHeight - 120, 150, 50);
        panel.show();
        QApplication::processEvents();
        release(letters);
        shoot(QStringLiteral("qwerty_small"), {&panel});
        gpNumCharInput->SlotCap();
        shoot(QStringLiteral("qwerty_capitals"), {&panel});
        gpNumCharInput->SlotChgChar_Punc();
        shoot(QStringLiteral("qwerty_symbols"), {&panel});
        release(numbers);
        shoot(QStringLiteral("numberpad_corner"), {&panel});
        NumberInput hidden;
        hidden.move(100, 100);
        shoot(QStringLiteral("numberinput"), {&hidden});
    }
    {
        QWidget panel;
        panel.resize(gScreenWidth, gScreenHeight);
        panel.setStyleSheet(QStringLiteral("background-color: #1E1E1E;"));
        auto* strip = new FromTimeToTime(&panel);
        strip->move(gScreenWidth - 440, 20);
        strip->setFromDateTime(clockNow().addDays(-1));
        strip->setToDateTime(clockNow());
        DateTimeWidget picker;
        picker.move(placeOnScreen(strip->pos() + QPoint(0, strip->height()), picker.size()));
        picker.addFromDate(clockNow().date().addDays(-1));
        picker.addToDate(clockNow().date());
        picker.show();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(picker.fromTimeEdit, &press);
        QList<QWidget*> shown{&panel, &picker};
        if (gpRollingTime) {
            shown << gpRollingTime.data();
        }
        shoot(QStringLiteral("rangepicker_drum"), shown);
        closeRollingTime();
    }
    {
        modifyTimeWidget clock;
        clock.move((gScreenWidth - clock.width()) / 2, (gScreenHeight - clock.height()) / 2);
        shoot(QStringLiteral("clockdialog"), {&clock});
    }
}

int shootAll(const TourArguments& arguments)
{
    SliderPictures sliders;
    forEachLanguage(arguments, tour);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    return runTour(argc, argv, shootAll);
}
