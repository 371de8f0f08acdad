#include "mainscreenhost.h"

namespace {

MainScreenHost*& registered()
{
    static MainScreenHost* host = nullptr;
    return host;
}

} // namespace

MainScreenState* ownMainScreenState()
{
    static MainScreenState own;
    return &own;
}

MainScreenHost* mainScreenHost()
{
    return registered() ? registered() : ownMainScreenState();
}

void setMainScreenHost(MainScreenHost* host)
{
    registered() = host;
}

void clearMainScreenHost(MainScreenHost* host)
{
    if (registered() == host) {
        registered() = nullptr;
    }
}
