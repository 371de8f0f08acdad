#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <type_traits>
#include <vector>

// Takes copies of process-wide variables and puts them back when it goes,
// the last kept first. The building block of the test fixtures that change
// globals for their lifetime (ProcessState, EngineStation).
class StateKeeper {
public:
    StateKeeper() = default;
    ~StateKeeper()
    {
        for (auto it = m_restores.rbegin(); it != m_restores.rend(); ++it) {
            (*it)();
        }
    }
    StateKeeper(const StateKeeper&) = delete;
    StateKeeper& operator=(const StateKeeper&) = delete;

    // Keeps a variable or a whole array (atomics by load and store).
    template <class T>
    void keep(T& variable);
    // Runs restore when the state is put back.
    void onRestore(std::function<void()> restore) { m_restores.push_back(std::move(restore)); }

private:
    template <class T>
    struct IsAtomic : std::false_type {};
    template <class T>
    struct IsAtomic<std::atomic<T>> : std::true_type {};

    std::vector<std::function<void()>> m_restores;
};

template <class T>
void StateKeeper::keep(T& variable)
{
    if constexpr (std::is_array<T>::value) {
        using Element = std::remove_all_extents_t<T>;
        if constexpr (std::is_copy_assignable<Element>::value) {
            // One copy of the whole block; nested arrays are contiguous.
            constexpr std::size_t count = sizeof(T) / sizeof(Element);
            Element* first = reinterpret_cast<Element*>(&variable);
            std::vector<Element> copy(first, first + count);
            m_restores.push_back([first, copy = std::move(copy)] { std::copy(copy.begin(), copy.end(), first); });
        } else {
            for (auto& element : variable) {
                keep(element);
            }
        }
    } else if constexpr (IsAtomic<T>::value) {
        const auto value = variable.load();
        m_restores.push_back([&variable, value] { variable.store(value); });
    } else {
        m_restores.push_back([&variable, value = variable] { variable = value; });
    }
}

// Keeps the globals of the core and inspection libraries, the log, prompt
// and clock handlers, the main window's hooks and the SQL connections (those
// a test adds are closed and removed; those it removed are added again).
void keepCoreState(StateKeeper& keeper);
