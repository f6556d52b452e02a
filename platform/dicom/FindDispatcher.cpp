#include "platform/dicom/FindDispatcher.h"

#include <algorithm>

#include "platform/MwlError.h"

namespace {
using Clock = std::chrono::steady_clock;
// A worker that has not returned this long after its query's deadline has a
// driver that ignored the cancel: its modality is answered without it.
constexpr auto kGiveUpAfter = std::chrono::milliseconds(1500);
constexpr auto kMonitorTick = std::chrono::milliseconds(100);
// What a query needs: the HIS's ODBC driver and Qt Sql under the query's own
// work; far less than the process default of 8 MiB each.
constexpr size_t kWorkerStackBytes = 2 * 1024 * 1024;
}  // namespace

FindDispatcher::FindDispatcher(ActivityLog& log) : m_log(log) {}

// Every thread is joined, however long a HIS holds one: a program that
// cannot wait ends before this runs (see Join).
FindDispatcher::~FindDispatcher() {
    BeginStop();
    for (auto& worker : m_workers)
        if (worker->thread.joinable()) worker->thread.join();
    if (m_monitorThread.joinable()) m_monitorThread.join();
}

void FindDispatcher::Start(const Options& options, WorkerFactory factory) {
    std::lock_guard lock(m_mutex);
    if (m_started) return;
    m_started = true;
    m_options = options;
    m_options.workers = std::max(1, m_options.workers);
    m_factory = std::move(factory);
    for (int i = 0; i < m_options.workers; ++i) {
        m_workers.push_back(std::make_unique<Worker>());
        Worker& worker = *m_workers.back();
        worker.thread = SizedThread(kWorkerStackBytes, [this, &worker] { RunWorker(worker); });
    }
    m_monitorThread = std::thread([this] { RunMonitor(); });
}

bool FindDispatcher::Running() const {
    std::lock_guard lock(m_mutex);
    return m_started && !m_stop.load();
}

void FindDispatcher::Dispatch(const std::shared_ptr<FindChannel>& channel) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_started || m_stop.load()) {
            channel->EndWithFailure(FailureKind::ServerStopping);
            return;
        }
        // Once the query is accepted and before a worker can take it, so
        // "Communicating..." never follows the end of the query it announces.
        m_options.onArrival();
        Item item;
        item.channel = channel;
        item.budget = std::make_unique<QueryBudget>(channel->Arrived(), m_options.budget, m_stop);
        Hand(std::move(item));
    }
    m_monitor.notify_one();
}

void FindDispatcher::Hand(Item item) {
    if (m_idle.empty()) {
        m_queue.push_back(std::move(item));
        return;
    }
    Worker* worker = m_idle.back();
    m_idle.pop_back();
    worker->handed = std::move(item);
    worker->wake.notify_one();
}

void FindDispatcher::Post(Job job) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_started || m_stop.load()) return;
        Item item;
        item.job = std::move(job);
        item.budget = std::make_unique<QueryBudget>(Clock::now(), m_options.budget, m_stop);
        Hand(std::move(item));
    }
}

void FindDispatcher::BeginStop() {
    std::deque<Item> waiting;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        waiting.swap(m_queue);
        for (auto& worker : m_workers) worker->wake.notify_one();
    }
    m_monitor.notify_all();
    for (Item& item : waiting)
        if (item.channel) item.channel->EndWithFailure(FailureKind::ServerStopping);
}

bool FindDispatcher::Join(std::chrono::milliseconds wait) {
    const auto until = Clock::now() + wait;
    bool all = true;
    for (auto& worker : m_workers) {
        {
            std::unique_lock lock(m_mutex);
            if (!m_ended.wait_until(lock, until, [&] { return worker->ended; })) {
                all = false;
                continue;
            }
        }
        if (worker->thread.joinable()) worker->thread.join();
    }
    if (m_monitorThread.joinable()) m_monitorThread.join();
    if (!all)
        m_log.Log(QStringLiteral("A query worker is still waiting for the HIS, which ignored the "
                                 "cancel; the service ends without it."));
    return all;
}

void FindDispatcher::RunWorker(Worker& self) {
    std::unique_ptr<QueryWorker> worker;
    try {
        worker = m_factory();
    } catch (const std::exception& error) {
        m_log.Log(QStringLiteral("A query worker could not start: %1")
                      .arg(QString::fromLocal8Bit(error.what())));
    }
    Item item;
    while (worker && TakeNext(self, item)) {
        Answer(*worker, item);
        std::lock_guard lock(m_mutex);
        self.inFlight = {};
        item = {};
    }
    worker.reset();
    {
        std::lock_guard lock(m_mutex);
        self.ended = true;
    }
    m_ended.notify_all();
}

bool FindDispatcher::TakeNext(Worker& self, Item& item) {
    std::unique_lock lock(m_mutex);
    if (m_stop.load()) return false;
    if (!m_queue.empty()) {
        item = std::move(m_queue.front());
        m_queue.pop_front();
    } else {
        m_idle.push_back(&self);
        self.wake.wait(lock, [&] { return m_stop.load() || self.handed.has_value(); });
        // A query handed over before the stop has begun: it is answered
        // like any other in flight, within the stop's grace.
        if (!self.handed) return false;
        item = std::move(*self.handed);
        self.handed.reset();
    }
    self.inFlight = {item.channel.get(), item.budget.get(), false};
    return true;
}

// Nothing thrown by a worker reaches the thread: a query ends with its
// failure, a job with a line in the log.
void FindDispatcher::Answer(QueryWorker& worker, Item& item) {
    if (item.job) {
        try {
            item.budget->Begin();
            item.job(worker, *item.budget);
        } catch (const std::exception& error) {
            m_log.Log(QString::fromLocal8Bit(error.what()));
        }
        return;
    }
    FindChannel& channel = *item.channel;
    item.budget->Begin();
    try {
        if (!channel.Cancelled()) worker.Answer(channel, *item.budget);
    } catch (const MwlError& error) {
        channel.NoteFailure(error.Kind());
    } catch (const std::exception&) {
        channel.NoteFailure(FailureKind::Unspecified);
    }
    channel.HandlerReturned();
}

void FindDispatcher::RunMonitor() {
    std::unique_lock lock(m_mutex);
    const auto aliveEvery = m_options.aliveEvery;
    m_nextAlive = Clock::now();
    while (!m_stop.load()) {
        TellAlive(lock, Clock::now());
        if (m_stop.load()) break;
        const bool busy = !m_queue.empty() ||
                          std::any_of(m_workers.begin(), m_workers.end(),
                                      [](const auto& w) { return w->inFlight.channel != nullptr; });
        if (busy)
            m_monitor.wait_for(lock, kMonitorTick);
        else if (aliveEvery.count() > 0)
            m_monitor.wait_until(lock, m_nextAlive);
        else
            m_monitor.wait(lock);
        if (m_stop.load()) break;
        const auto now = Clock::now();
        ExpireWaiting(now);
        GiveUpOverdue(now);
    }
}

// With the lock held; the call itself is made without it.
void FindDispatcher::TellAlive(std::unique_lock<std::mutex>& lock, Clock::time_point now) {
    if (m_options.aliveEvery.count() <= 0 || now < m_nextAlive) return;
    m_nextAlive = now + m_options.aliveEvery;
    if (!AnyWorkerAvailable(now)) return;
    lock.unlock();
    m_options.onAlive();
    lock.lock();
}

// With the lock held. A worker past its deadline by more than the grace is
// held by the HIS; one that ended (its factory failed) takes nothing.
bool FindDispatcher::AnyWorkerAvailable(Clock::time_point now) const {
    return std::any_of(m_workers.begin(), m_workers.end(), [now](const auto& worker) {
        const InFlight& running = worker->inFlight;
        if (worker->ended) return false;
        return !running.budget || now < running.budget->Deadline() + kGiveUpAfter;
    });
}

// With the lock held.
void FindDispatcher::ExpireWaiting(Clock::time_point now) {
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (!it->channel || now < it->budget->Deadline()) {
            ++it;
            continue;
        }
        m_log.Log(QStringLiteral("Query Request error: no query worker came free within the "
                                 "time-out of %1 s (QueryTimeoutSeconds); the query did not run.")
                      .arg(it->budget->Seconds()));
        it->channel->EndWithFailure(FailureKind::HisTimeout);
        it = m_queue.erase(it);
    }
}

// With the lock held.
void FindDispatcher::GiveUpOverdue(Clock::time_point now) {
    for (auto& worker : m_workers) {
        InFlight& running = worker->inFlight;
        if (!running.channel || running.givenUp || !running.budget->InHis()) continue;
        if (now < running.budget->Deadline() + kGiveUpAfter) continue;
        running.givenUp = true;
        m_log.Log(QStringLiteral("Query Request error: the HIS did not answer within the time-out "
                                 "of %1 s (QueryTimeoutSeconds) and did not take the cancel; the "
                                 "modality is answered without it.")
                      .arg(running.budget->Seconds()));
        running.channel->EndWithFailure(FailureKind::HisTimeout);
    }
}
