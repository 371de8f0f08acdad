#pragma once

class Edit;

// What the widget kit needs of the main window: the touch field the keyboards
// are serving (the operator's access level is in the operating state,
// screenState()). The main window implements it and registers itself; until
// then (and in the kit's own tests) the kit keeps it itself.
class KitHost {
public:
    virtual ~KitHost() = default;

    // The served field; null when none, or when it has been destroyed.
    virtual Edit* servedEdit() const = 0;
    virtual void setServedEdit(Edit* edit) = 0;
};

// The registered host, or the kit's own when none is registered.
KitHost* kitHost();
void setKitHost(KitHost* host);
// Clears the registration only if it is still this one's.
void clearKitHost(KitHost* host);

// Keeps a pop-up of the given size at the wanted top-left corner when it fits
// on the screen (gScreenWidth × gScreenHeight), else moves it onto the screen
// by the least distance.
class QPoint;
class QSize;
QPoint placeOnScreen(const QPoint& wanted, const QSize& size);
