#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ActivityLog.h"
#include "platform/QueryBudget.h"

struct CallState;
class ServiceStatus;

// Watches every HIS call in flight (a connection attempt, a statement, a
// fetch) from a thread of its own. A call that has waited two seconds is
// named once in the activity log, so the operator sees a locked or slow HIS
// while it happens. A call still running past its query's deadline, or when
// the server stops, is cancelled: the driver's cancel is made from this
// thread, which ODBC allows while the call runs on another. Drivers whose
// cancel is not safe from another thread give no cancel and bound their
// waits themselves. A named call shows the HIS as waiting in the status
// until it returns.
class StatementWatch {
public:
    explicit StatementWatch(ActivityLog& log, ServiceStatus* status = nullptr);
    ~StatementWatch();
    StatementWatch(const StatementWatch&) = delete;
    StatementWatch& operator=(const StatementWatch&) = delete;

    enum class Cancelled { No, Deadline, Stop };

    // One place on a connection where HIS calls happen one after the other;
    // each is armed while it runs. A null watch watches nothing.
    class Call {
    public:
        Call(StatementWatch* watch, const QueryBudget& budget);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

        // The call begins; `what` names it in the log ("the statement"), and
        // cancel (empty: none) ends it from another thread.
        void Arm(const QString& what, std::function<void()> cancel = {});
        // The call has returned: no cancel reaches it any more.
        void Disarm();
        // Whether the watch cancelled the last armed call, and why.
        Cancelled CancelledFor() const;

    private:
        void EndWait();

        StatementWatch* m_watch;
        std::shared_ptr<CallState> m_state;
    };

    // Cancels every call armed now at once (the server stops); the calls'
    // budgets say so from then on.
    void CancelAll();

private:
    friend class Call;
    using Clock = std::chrono::steady_clock;
    void Add(const std::shared_ptr<CallState>& state);
    void Remove(const std::shared_ptr<CallState>& state);
    void Run();
    void Look(CallState& state, Clock::time_point now, bool stopAll);

    ActivityLog& m_log;
    ServiceStatus* m_status;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<CallState>> m_calls;
    bool m_stopAll = false;
    bool m_ending = false;
    std::thread m_thread;
};
