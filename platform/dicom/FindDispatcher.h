#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/ActivityLog.h"
#include "platform/QueryBudget.h"
#include "platform/SizedThread.h"
#include "platform/dicom/FindChannel.h"
#include "platform/dicom/QueryWorker.h"

// The query workers: a fixed pool of threads, each with a worker of its own
// (and so a HIS connection of its own), that answer the C-FINDs the
// associations hand over, one query per worker at a time and each to its
// end. Queries wait in arrival order for a free worker. The worker that came
// free last takes the next query, so a quiet site uses one warm HIS
// connection, and the others are opened only when queries overlap.
//
// A query's budget (QueryTimeoutSeconds) counts from its arrival: one still
// waiting for a worker at its deadline fails without running, and one whose
// worker has not returned shortly after its deadline (a driver that ignores
// the cancel) is answered with the failure while the worker finishes on its
// own. A stop refuses new queries, ends the waiting ones and tells every
// budget, which cancels the HIS work in flight.
class FindDispatcher {
public:
    using WorkerFactory = std::function<std::unique_ptr<QueryWorker>()>;
    // Work other than a query for the next free worker (opening its HIS
    // connection at start or after a mode change).
    using Job = std::function<void(QueryWorker&, const QueryBudget&)>;

    struct Options {
        int workers = 4;
        std::chrono::seconds budget{20};
        // Called on the association's thread as each query arrives.
        std::function<void()> onArrival = [] {};
        // Called on the monitor thread about every aliveEvery while a worker
        // can take a query: one is free, or its query is within its time.
        // When every worker is held past its deadline by a HIS that ignores
        // the cancel (or none is left) the calls stop, so whoever expects
        // them (the service manager's watchdog) knows the service is hung.
        // Zero: never.
        std::chrono::milliseconds aliveEvery{0};
        std::function<void()> onAlive = [] {};
    };

    explicit FindDispatcher(ActivityLog& log);
    ~FindDispatcher();
    FindDispatcher(const FindDispatcher&) = delete;
    FindDispatcher& operator=(const FindDispatcher&) = delete;

    // Starts the workers; the factory runs once on each worker's thread.
    void Start(const Options& options, WorkerFactory factory);
    bool Running() const;
    // Any thread.
    void Dispatch(const std::shared_ptr<FindChannel>& channel);
    void Post(Job job);
    // Any thread: refuses new queries, ends the waiting ones with a failure
    // and tells every running query's budget to stop.
    void BeginStop();
    // Waits for the workers at most `wait`, joining each that ended. Returns
    // false when one is still held by the HIS: the program should then end
    // without waiting for it, as the destructor joins every thread.
    bool Join(std::chrono::milliseconds wait);

private:
    struct Item {
        std::shared_ptr<FindChannel> channel;  // or
        Job job;
        std::unique_ptr<QueryBudget> budget;
    };
    struct InFlight {
        FindChannel* channel = nullptr;  // null for a job
        const QueryBudget* budget = nullptr;
        bool givenUp = false;
    };
    struct Worker {
        SizedThread thread;
        std::condition_variable wake;  // an item was handed to it, or the stop came
        std::optional<Item> handed;
        bool ended = false;
        InFlight inFlight;
    };

    void RunWorker(Worker& self);
    void RunMonitor();
    bool TakeNext(Worker& self, Item& item);
    // With the lock held: the item goes to the idle worker that came free
    // last, or waits in the queue.
    void Hand(Item item);
    void Answer(QueryWorker& worker, Item& item);
    void ExpireWaiting(std::chrono::steady_clock::time_point now);
    void GiveUpOverdue(std::chrono::steady_clock::time_point now);
    bool AnyWorkerAvailable(std::chrono::steady_clock::time_point now) const;
    void TellAlive(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point now);

    ActivityLog& m_log;
    Options m_options;
    WorkerFactory m_factory;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_monitor;  // the monitor's next look may be sooner
    std::condition_variable m_ended;    // a worker ended
    std::deque<Item> m_queue;
    std::vector<Worker*> m_idle;  // the one that came free last at the back
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::thread m_monitorThread;
    std::chrono::steady_clock::time_point m_nextAlive;
    bool m_started = false;
};
