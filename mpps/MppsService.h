#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "mpps/RecentSteps.h"
#include "mpps/StepSettings.h"
#include "platform/ActivityLog.h"
#include "platform/Clock.h"
#include "platform/dicom/StepHandler.h"
#include "platform/dicom/UidGenerator.h"
#include "platform/his/HisConnection.h"
#include "worklist/QuerySettings.h"

class OrderFileCache;
class StepJournal;
struct PerformedStep;

// The Modality Performed Procedure Step service. Two threads of its own,
// each with its own database connections, so that neither the query
// workers' HIS connections nor the window ever wait for it:
//
// - the journal thread records each N-CREATE and N-SET in the journal,
//   under the state rules, one message at a time, and only then lets the
//   association answer; a journal that cannot be written gives a failure
//   status, never success;
// - the write-back thread tells the HIS (or the order folder) what became of
//   each step, after every accepted message and once per retry interval,
//   until each write-back has succeeded.
class MppsService : public StepHandler {
public:
    using JournalConnection = std::function<std::unique_ptr<HisConnection>(const QString&)>;
    using HisConnectionMaker = std::function<std::unique_ptr<HisConnection>()>;

    struct Shared {
        ActivityLog& log;
        const QuerySettings& settings;
        OrderFileCache& orderFiles;
        UidGenerator& uids;
        const Clock& clock;
    };
    // Each thread makes its connections on itself.
    struct Connections {
        JournalConnection journal;
        HisConnectionMaker his;
    };

    MppsService(const Shared& shared, Connections connections);
    ~MppsService() override;
    MppsService(const MppsService&) = delete;
    MppsService& operator=(const MppsService&) = delete;

    // budget: the longest one message's journal work, and one state's
    // write-back, waits for its database.
    void Start(const StepSettings& settings, std::chrono::seconds budget);
    // Any thread: messages waiting are answered with a failure, the
    // database calls in flight end.
    void BeginStop();
    // Waits for the threads at most `wait`; false when one is still held by
    // a database that ignored the stop (it is left to end on its own).
    bool Join(std::chrono::milliseconds wait);

    StepAnswer Handle(const StepMessage& message) override;
    std::chrono::seconds LongestAnswer() const override;

    RecentSteps& Recent() { return m_recent; }

private:
    struct Request {
        StepMessage message;
        std::optional<StepAnswer> answer;
        bool abandoned = false;
    };

    void RunJournal();
    void RunWriteBack();
    std::shared_ptr<Request> NextRequest();
    void Answer(Request& request, const StepAnswer& answer);
    StepAnswer Record(StepJournal& journal, const StepMessage& message);
    // What one pass of the write-back thread leaves the next.
    struct PassState {
        bool recentLoaded = false;
        QString lastProblem;  // the journal's failure logged last
    };
    // One pass of the write-back thread over the steps that are due.
    void WriteBackPass(StepJournal& journal, const std::function<void(const QString&)>& run,
                       PassState& state);
    bool WaitForWriteBackTurn();
    void LoadRecent(StepJournal& journal);
    void NoteMessage(const StepMessage& message, const StepAnswer& answer,
                     const PerformedStep* step);
    void Ended();

    Shared m_shared;
    Connections m_connections;
    StepSettings m_settings;
    std::chrono::seconds m_budget{20};
    QString m_owner;
    RecentSteps m_recent;
    std::atomic<bool> m_stop{false};

    std::mutex m_mutex;
    std::condition_variable m_requestsChanged;  // a request came, or the stop
    std::condition_variable m_answered;
    std::condition_variable m_writeBackWake;
    std::condition_variable m_threadEnded;
    std::deque<std::shared_ptr<Request>> m_requests;
    bool m_writeBackWanted = false;
    bool m_started = false;
    int m_running = 0;
    std::thread m_journalThread;
    std::thread m_writeBackThread;
};
