#include "kiticons.h"

#include <QtGlobal>

static void initKitIconResource()
{
    Q_INIT_RESOURCE(kiticons);
}

void ensureKitIcons()
{
    static const bool done = (initKitIconResource(), true);
    (void)done;
}
