#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>

// How long one query may still wait for the HIS: one budget for all of its
// HIS work (waiting for a query worker, connecting, preparing, executing and
// every fetch), counted from the moment its request arrived. Only time spent
// in HIS calls (and in the queue) counts: once a worker runs the query, the
// time between two HIS calls (building matches, waiting for a slow modality
// to take them) moves the deadline on. A stop ends every wait at once,
// whatever is left.
class QueryBudget {
public:
    using Clock = std::chrono::steady_clock;

    QueryBudget(Clock::time_point start, std::chrono::seconds budget, const std::atomic<bool>& stop)
        : m_deadline((start + budget).time_since_epoch().count()),
          m_outsideSince(Clock::now().time_since_epoch().count()),
          m_seconds(static_cast<int>(budget.count())),
          m_stop(stop) {}

    Clock::time_point Deadline() const {
        return Clock::time_point(Clock::duration(m_deadline.load(std::memory_order_relaxed)));
    }
    std::chrono::milliseconds Remaining() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(Deadline() - Clock::now());
        return std::max(left, std::chrono::milliseconds(0));
    }
    // Whole seconds left, at least one: for the drivers' own time-outs.
    int RemainingSeconds() const {
        return static_cast<int>(std::max<long long>(1, (Remaining().count() + 999) / 1000));
    }
    bool Expired() const { return Clock::now() >= Deadline(); }
    bool Stopping() const { return m_stop.load(std::memory_order_relaxed); }
    // The budget as configured (QueryTimeoutSeconds), for messages.
    int Seconds() const { return m_seconds; }

    // The query's own thread: a worker has begun the query (the wait for it
    // counted); from here on only HIS calls count.
    void Begin() const { m_outsideSince = Clock::now().time_since_epoch().count(); }
    // The query's own thread, around every HIS call.
    void EnterHis() const {
        if (m_inHis.fetch_add(1) == 0)
            m_deadline.fetch_add(Clock::now().time_since_epoch().count() - m_outsideSince);
    }
    void LeaveHis() const {
        if (m_inHis.fetch_sub(1) == 1) m_outsideSince = Clock::now().time_since_epoch().count();
    }
    // Any thread: the query waits for the HIS right now.
    bool InHis() const { return m_inHis.load() > 0; }

private:
    mutable std::atomic<Clock::rep> m_deadline;
    mutable Clock::rep m_outsideSince;  // the query's own thread only
    mutable std::atomic<int> m_inHis{0};
    const int m_seconds;
    const std::atomic<bool>& m_stop;
};
