#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>

// How long one query may still wait for the HIS: one deadline for all of its
// HIS work (waiting for a query worker, connecting, preparing, executing and
// every fetch), counted from the moment its request arrived. Time the query
// spends waiting for its own peer to take matches is not the HIS's and moves
// the deadline on. A stop ends every wait at once, whatever is left.
class QueryBudget {
public:
    using Clock = std::chrono::steady_clock;

    QueryBudget(Clock::time_point start, std::chrono::seconds budget, const std::atomic<bool>& stop)
        : m_deadline((start + budget).time_since_epoch().count()),
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
    // Any thread: the query waited this long for something that is not the HIS.
    void Extend(Clock::duration waited) {
        m_deadline.fetch_add(waited.count(), std::memory_order_relaxed);
    }

private:
    std::atomic<Clock::rep> m_deadline;
    const int m_seconds;
    const std::atomic<bool>& m_stop;
};
