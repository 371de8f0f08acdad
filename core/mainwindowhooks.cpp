#include "mainwindowhooks.h"

#include <atomic>

namespace {
// Set and read on the GUI thread only; atomic so that a worker's stray read
// is still well defined.
std::atomic<MainWindowHooks*> gHooks{nullptr};
} // namespace

MainWindowHooks* mainWindowHooks()
{
    return gHooks.load();
}

void setMainWindowHooks(MainWindowHooks* hooks)
{
    gHooks.store(hooks);
}

void clearMainWindowHooks(MainWindowHooks* hooks)
{
    MainWindowHooks* expected = hooks;
    gHooks.compare_exchange_strong(expected, nullptr);
}
