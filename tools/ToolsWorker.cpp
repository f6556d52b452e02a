#include "tools/ToolsWorker.h"

#include "platform/MwlError.h"

ToolsWorker::ToolsWorker(HisFactory makeHis, const QuerySettings& settings,
                         std::function<int()> timeoutSeconds, QObject* window)
    : m_settings(settings),
      m_timeoutSeconds(std::move(timeoutSeconds)),
      m_window(window),
      m_thread([this, makeHis = std::move(makeHis)] { Loop(makeHis); }) {}

ToolsWorker::~ToolsWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void ToolsWorker::Run(Job job) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
}

void ToolsWorker::Loop(const HisFactory& makeHis) {
    const std::unique_ptr<HisConnection> his = makeHis();
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop.load() || !m_jobs.empty(); });
            if (m_stop.load()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        RunOne(*his, job);
    }
}

void ToolsWorker::RunOne(HisConnection& his, const Job& job) {
    const std::shared_ptr<const QuerySnapshot> settings = m_settings.Current();
    const QueryBudget budget(QueryBudget::Clock::now(), std::chrono::seconds(m_timeoutSeconds()),
                             m_stop);
    his.BeginQuery(budget);
    if (settings->connectionGeneration != m_followed) {
        m_followed = settings->connectionGeneration;
        his.UseConnectionString(settings->connectionString);
    }
    // A job reports its own failures; this only keeps the thread alive.
    IgnoringFailures([&] { job(his, *settings); });
    his.EndQuery();
}

void ToolsWorker::Guarded(HisConnection& his, ActivityLog& log,
                          const std::function<void()>& tool) {
    try {
        tool();
    } catch (const MwlError& error) {
        log.Log(error.Description());
        if (PolicyFor(error.Kind()).reopensHis) his.ReopenAfterFailure();
    } catch (const std::exception& error) {
        log.Log(QString::fromLocal8Bit(error.what()));
    }
}
