#include "mainwindowhooks.h"

#include "hostregistry.h"

namespace {
HostRegistry<MainWindowHooks> gHooks;
} // namespace

MainWindowHooks* mainWindowHooks()
{
    return gHooks.get();
}

void setMainWindowHooks(MainWindowHooks* hooks)
{
    gHooks.set(hooks);
}

void clearMainWindowHooks(MainWindowHooks* hooks)
{
    gHooks.clear(hooks);
}
