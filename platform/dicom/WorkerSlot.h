#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

// The connection one worker thread is serving, as the other threads see it:
// the watchdog cuts it when its deadline passes, and a stopping listener
// interrupts it. Only the worker attaches and detaches the socket; it
// detaches before the socket is closed, so a cut never reaches a reused
// descriptor.
class WorkerSlot {
public:
    using Clock = std::chrono::steady_clock;

    enum class Phase {
        Free,     // no connection
        Request,  // reading the association request
        Waiting,  // association open, waiting for the next message
        Busy,     // answering a message
        Ending,   // releasing or aborting
    };

    // Worker thread: a connection was taken; the request must be complete
    // within requestTime.
    void Attach(int socket, Clock::duration requestTime);
    // Worker thread: before the socket is closed.
    void Detach();
    bool Attached() const;

    void SetPhase(Phase phase) { m_phase.store(phase); }
    Phase CurrentPhase() const { return m_phase.load(); }

    // Worker thread: what it does next must be over within time, or the
    // watchdog cuts the connection.
    void SetDeadline(Clock::duration time);
    // The watchdog cut the connection because a deadline had passed, or the
    // deadline has passed by now (the toolkit's own time-out came first).
    bool TimedOut() const;

    // Watchdog thread: cuts the connection when its deadline has passed.
    void CutIfExpired(Clock::time_point now);
    // What was sent on the connection and not yet taken by the peer (0
    // without a connection).
    int UnsentBytes() const;
    // Shuts the socket down for reading (SHUT_RD: the worker wakes and can
    // still send an A-ABORT) or both ways (SHUT_RDWR: a blocked send ends too).
    void Interrupt(int how);

private:
    static long long Ticks(Clock::time_point when) { return when.time_since_epoch().count(); }

    mutable std::mutex m_mutex;
    int m_socket = -1;
    int m_interrupted = 0;                 // the shutdown() directions applied so far, as bits
    std::atomic<long long> m_deadline{0};  // 0: none
    std::atomic<Phase> m_phase{Phase::Free};
    std::atomic<bool> m_timedOut{false};
};
