#include "mainscreenhost.h"

#include "hostregistry.h"

namespace {
HostRegistry<MainScreenHost> gHost;
} // namespace

MainScreenState* ownMainScreenState()
{
    static MainScreenState own;
    return &own;
}

MainScreenHost* mainScreenHost()
{
    return gHost.getOr(ownMainScreenState());
}

void setMainScreenHost(MainScreenHost* host)
{
    gHost.set(host);
}

void clearMainScreenHost(MainScreenHost* host)
{
    gHost.clear(host);
}
