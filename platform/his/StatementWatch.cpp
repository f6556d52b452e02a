#include "platform/his/StatementWatch.h"

#include <algorithm>

#include "platform/ServiceStatus.h"

namespace {
constexpr auto kTick = std::chrono::milliseconds(100);
// A call waiting this long is named in the activity log.
constexpr auto kNamedAfter = std::chrono::seconds(2);
// A cancel that did not end the call is repeated this often.
constexpr auto kCancelAgain = std::chrono::milliseconds(500);
}  // namespace

struct CallState {
    using Clock = std::chrono::steady_clock;
    explicit CallState(const QueryBudget& budget) : budget(budget) {}

    const QueryBudget& budget;
    std::mutex mutex;  // held while the call is cancelled, so it cannot return meanwhile
    bool armed = false;
    QString what;
    std::function<void()> cancel;
    Clock::time_point since;
    Clock::time_point lastCancel;
    bool named = false;
    StatementWatch::Cancelled cancelled = StatementWatch::Cancelled::No;
};

StatementWatch::Call::Call(StatementWatch* watch, const QueryBudget& budget)
    : m_watch(watch), m_state(std::make_shared<CallState>(budget)) {
    if (m_watch) m_watch->Add(m_state);
}

StatementWatch::Call::~Call() {
    Disarm();
    if (m_watch) m_watch->Remove(m_state);
}

void StatementWatch::Call::Arm(const QString& what, std::function<void()> cancel) {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->armed) m_state->budget.EnterHis();
    EndWait();
    m_state->armed = true;
    m_state->what = what;
    m_state->cancel = std::move(cancel);
    m_state->since = Clock::now();
    m_state->named = false;
    m_state->cancelled = Cancelled::No;
}

void StatementWatch::Call::Disarm() {
    std::lock_guard lock(m_state->mutex);
    if (m_state->armed) m_state->budget.LeaveHis();
    EndWait();
    m_state->armed = false;
    m_state->cancel = nullptr;
}

// With the state's lock held: a call named as waiting has returned.
void StatementWatch::Call::EndWait() {
    if (m_state->armed && m_state->named && m_watch && m_watch->m_status)
        m_watch->m_status->HisWaitOver(m_state.get());
}

StatementWatch::Cancelled StatementWatch::Call::CancelledFor() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

StatementWatch::StatementWatch(ActivityLog& log, ServiceStatus* status)
    : m_log(log), m_status(status), m_thread([this] { Run(); }) {}

StatementWatch::~StatementWatch() {
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void StatementWatch::CancelAll() {
    {
        std::lock_guard lock(m_mutex);
        m_stopAll = true;
    }
    m_wake.notify_all();
}

void StatementWatch::Add(const std::shared_ptr<CallState>& state) {
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(state);
    }
    m_wake.notify_all();
}

void StatementWatch::Remove(const std::shared_ptr<CallState>& state) {
    std::lock_guard lock(m_mutex);
    std::erase(m_calls, state);
}

void StatementWatch::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_ending) {
        if (m_calls.empty())
            m_wake.wait(lock, [this] { return m_ending || !m_calls.empty(); });
        else
            m_wake.wait_for(lock, kTick);
        if (m_ending) break;
        // Looked at without the watch's lock: a cancel may take a while (a
        // driver may open a connection of its own to send it).
        const auto calls = m_calls;
        const bool stopAll = std::exchange(m_stopAll, false);
        lock.unlock();
        const auto now = Clock::now();
        for (const auto& state : calls) Look(*state, now, stopAll);
        lock.lock();
    }
}

void StatementWatch::Look(CallState& state, Clock::time_point now, bool stopAll) {
    std::lock_guard lock(state.mutex);
    if (!state.armed) return;
    if (!state.named && now - state.since >= kNamedAfter) {
        state.named = true;
        m_log.Log(QStringLiteral("waiting for the HIS: %1 has not answered for %2 s (time-out %3 s, "
                                 "QueryTimeoutSeconds).")
                      .arg(state.what)
                      .arg(std::chrono::duration_cast<std::chrono::seconds>(kNamedAfter).count())
                      .arg(state.budget.Seconds()));
        if (m_status) m_status->HisWaiting(&state, state.since);
    }
    const bool stopping = stopAll || state.budget.Stopping();
    if (!stopping && now < state.budget.Deadline()) return;
    if (!state.cancel || now - state.lastCancel < kCancelAgain) return;
    state.cancelled = stopping ? Cancelled::Stop : Cancelled::Deadline;
    state.lastCancel = now;
    state.cancel();
}
