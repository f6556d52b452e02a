#pragma once

#include <functional>
#include <utility>

// Runs its action when the scope ends, however it ends: the tools use it to
// restore the pointer, the buttons and the log box after a failure as well.
class ScopeExit {
public:
    explicit ScopeExit(std::function<void()> action) : m_action(std::move(action)) {}
    ~ScopeExit() { m_action(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    std::function<void()> m_action;
};
