#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerSlot;

// Enforces the deadlines of every worker's connection on a thread of its own.
// The toolkit's time-outs apply to each read, so a peer sending one byte at a
// time could hold a worker for ever; the watchdog shuts such a connection
// down when the whole step has taken too long. It also runs a periodic task
// (the listener's counts).
class ConnectionWatchdog {
public:
    ConnectionWatchdog(std::vector<WorkerSlot*> watched, std::chrono::seconds period,
                       std::function<void()> periodic);
    ~ConnectionWatchdog();

    void Start();
    void Stop();

private:
    void Run();

    const std::vector<WorkerSlot*> m_slots;
    const std::chrono::seconds m_period;
    const std::function<void()> m_periodic;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};
