#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ActivityLog.h"
#include "platform/Mailbox.h"
#include "platform/his/HisConnection.h"
#include "worklist/QuerySettings.h"

// Runs the operator's tools (the SQL console, the listings, Exams Done) off
// the window's thread, one job at a time, on a HIS connection of its own
// that follows the current mode's connection string. Each job waits for the
// HIS at most QueryTimeoutSeconds; what it has for the window travels back
// through ToWindow, so the window repaints and answers clicks meanwhile.
class ToolsWorker {
public:
    using HisFactory = std::function<std::unique_ptr<HisConnection>()>;
    using Job = std::function<void(HisConnection& his, const QuerySnapshot& settings)>;

    // The factory runs on the tools thread.
    // The time-out (QueryTimeoutSeconds) is read as each job starts.
    ToolsWorker(HisFactory makeHis, const QuerySettings& settings,
                std::function<int()> timeoutSeconds, QObject* window);
    // Cancels the job in flight and joins the thread.
    ~ToolsWorker();
    ToolsWorker(const ToolsWorker&) = delete;
    ToolsWorker& operator=(const ToolsWorker&) = delete;

    // Window thread: queues a job.
    void Run(Job job);
    // Any thread: runs the call on the window's thread.
    void ToWindow(std::function<void()> call) { m_window.Post(std::move(call)); }

    // Tools thread: runs one tool; its failure goes to the log, and one of
    // the HIS's own reopens the connection (the failure policy of queries).
    static void Guarded(HisConnection& his, ActivityLog& log, const std::function<void()>& tool);

private:
    void Loop(const HisFactory& makeHis);
    void RunOne(HisConnection& his, const Job& job);

    const QuerySettings& m_settings;
    const std::function<int()> m_timeoutSeconds;
    Mailbox m_window;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::atomic<bool> m_stop{false};
    quint64 m_followed = 0;
    std::thread m_thread;
};
