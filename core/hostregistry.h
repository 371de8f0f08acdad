#pragma once

#include <atomic>

// The one registered implementation of an interface that a higher layer
// provides to a lower one (the window registers itself as the stations' host,
// the kit's host, ...). Set and read on the GUI thread; atomic so that a
// worker's stray read is still well defined. Constant-initialised, so it may
// be used from other static initialisers.
template <typename T>
class HostRegistry {
public:
    constexpr HostRegistry() = default;
    HostRegistry(const HostRegistry&) = delete;
    HostRegistry& operator=(const HostRegistry&) = delete;

    // The registered one, or null.
    T* get() const { return m_registered.load(); }
    // The registered one, or the fallback while none is registered.
    T* getOr(T* fallback) const
    {
        T* registered = m_registered.load();
        return registered ? registered : fallback;
    }

    void set(T* registered) { m_registered.store(registered); }
    // Clears the registration only if it is still this one's (a newer one may
    // have taken over).
    void clear(T* registered)
    {
        T* expected = registered;
        m_registered.compare_exchange_strong(expected, nullptr);
    }

private:
    std::atomic<T*> m_registered{nullptr};
};
