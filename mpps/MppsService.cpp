#include "mpps/MppsService.h"

#include <QUuid>

#include "mpps/LogText.h"
#include "mpps/StepJournal.h"
#include "mpps/StepRecorder.h"
#include "mpps/StepWriteBack.h"
#include "mpps/WriteBackRunner.h"
#include "platform/MwlError.h"

namespace {

// Beyond the journal's budget, the association waits this much longer for
// its answer.
constexpr std::chrono::seconds kAnswerMargin{5};

QString KindOf(const StepMessage& message) {
    return message.kind == StepMessage::Kind::Create ? QStringLiteral("N-CREATE")
                                                     : QStringLiteral("N-SET");
}

QString StatusText(quint16 status) {
    return QStringLiteral("%1").arg(status, 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

MppsService::MppsService(const Shared& shared, Connections connections)
    : m_shared(shared),
      m_connections(std::move(connections)),
      m_owner(QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

// A thread the database still holds is let go: the program ends at once
// after an unclean stop (see ServerRuntime::Shutdown), before it could
// return into this object.
MppsService::~MppsService() {
    BeginStop();
    if (Join(std::chrono::milliseconds(3000))) return;
    for (std::thread* thread : {&m_journalThread, &m_writeBackThread})
        if (thread->joinable()) thread->detach();
}

void MppsService::Start(const StepSettings& settings, std::chrono::seconds budget) {
    std::lock_guard lock(m_mutex);
    if (m_started) return;
    m_started = true;
    m_settings = settings;
    m_budget = budget;
    m_running = 2;
    m_journalThread = std::thread([this] { RunJournal(); });
    m_writeBackThread = std::thread([this] { RunWriteBack(); });
}

void MppsService::BeginStop() {
    std::deque<std::shared_ptr<Request>> waiting;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        waiting.swap(m_requests);
        for (const auto& request : waiting)
            request->answer = StepAnswer::Failure(StepStatus::ProcessingFailure,
                                                  QStringLiteral("Server shutting down"));
    }
    m_requestsChanged.notify_all();
    m_writeBackWake.notify_all();
    m_answered.notify_all();
}

bool MppsService::Join(std::chrono::milliseconds wait) {
    {
        std::unique_lock lock(m_mutex);
        if (!m_threadEnded.wait_for(lock, wait, [&] { return m_running == 0; })) {
            m_shared.log.Log(QStringLiteral("An MPPS thread is still waiting for its database, "
                                            "which ignored the stop; the service ends without it."));
            return false;
        }
    }
    for (std::thread* thread : {&m_journalThread, &m_writeBackThread})
        if (thread->joinable()) thread->join();
    return true;
}

void MppsService::Ended() {
    {
        std::lock_guard lock(m_mutex);
        --m_running;
    }
    m_threadEnded.notify_all();
}

std::chrono::seconds MppsService::LongestAnswer() const { return m_budget + kAnswerMargin; }

// The association waits for the journal thread; an answer that does not come
// in time is a failure, and the message is dropped if it has not begun.
StepAnswer MppsService::Handle(const StepMessage& message) {
    auto request = std::make_shared<Request>();
    request->message = message;
    request->message.attributes = message.attributes.Clone();
    std::unique_lock lock(m_mutex);
    if (!m_started || m_stop.load())
        return StepAnswer::Failure(StepStatus::ProcessingFailure,
                                   QStringLiteral("Server shutting down"));
    m_requests.push_back(request);
    m_requestsChanged.notify_one();
    // A stop does not wait for the journal: the listener must end in time.
    m_answered.wait_for(lock, LongestAnswer(),
                        [&] { return request->answer.has_value() || m_stop.load(); });
    if (request->answer) return *request->answer;
    request->abandoned = true;
    if (m_stop.load())
        return StepAnswer::Failure(StepStatus::ProcessingFailure,
                                   QStringLiteral("Server shutting down"));
    lock.unlock();
    m_shared.log.Log(QStringLiteral("MPPS %1 from %2: step %3 not answered within %4 s.")
                         .arg(KindOf(message), OneLine(message.callingAeTitle),
                              OneLine(message.instanceUid))
                         .arg(LongestAnswer().count()));
    return StepAnswer::Failure(StepStatus::ProcessingFailure,
                               QStringLiteral("Performed step not recorded in time"));
}

std::shared_ptr<MppsService::Request> MppsService::NextRequest() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_requestsChanged.wait(lock, [&] { return m_stop.load() || !m_requests.empty(); });
        if (m_stop.load()) return nullptr;
        std::shared_ptr<Request> request = m_requests.front();
        m_requests.pop_front();
        if (!request->abandoned) return request;
    }
}

void MppsService::Answer(Request& request, const StepAnswer& answer) {
    {
        std::lock_guard lock(m_mutex);
        request.answer = answer;
    }
    m_answered.notify_all();
}

void MppsService::RunJournal() {
    std::unique_ptr<HisConnection> db = m_connections.journal(m_settings.journal);
    StepJournal journal(*db);
    while (const std::shared_ptr<Request> request = NextRequest())
        Answer(*request, Record(journal, request->message));
    db.reset();
    Ended();
}

StepAnswer MppsService::Record(StepJournal& journal, const StepMessage& message) {
    const QueryBudget budget(QueryBudget::Clock::now(), m_budget, m_stop);
    const StepJournal::Scope scope(journal, budget);
    try {
        StepJournal::CreateFileFor(m_settings.journal);
        journal.Ready();
        StepRecorder recorder(journal, m_shared.uids, m_shared.clock);
        const StepRecorder::Outcome outcome = recorder.Record(message);
        NoteMessage(message, outcome.answer, outcome.step ? &*outcome.step : nullptr);
        if (outcome.step) {
            m_recent.Put(WriteBackRunner::Entry(*outcome.step));
            {
                std::lock_guard lock(m_mutex);
                m_writeBackWanted = true;
            }
            m_writeBackWake.notify_all();
        }
        return outcome.answer;
    } catch (const MwlError& error) {
        if (PolicyFor(error.Kind()).reopensHis) journal.Recover();
        const StepAnswer failed = StepAnswer::Failure(
            StepStatus::ProcessingFailure, QStringLiteral("Performed step could not be recorded"));
        m_shared.log.Log(QStringLiteral("MPPS %1 from %2: step %3 not recorded, answered %4: %5")
                             .arg(KindOf(message), OneLine(message.callingAeTitle),
                                  OneLine(message.instanceUid), StatusText(failed.status),
                                  error.Description()));
        return failed;
    }
}

void MppsService::NoteMessage(const StepMessage& message, const StepAnswer& answer,
                              const PerformedStep* step) {
    const QString from = QStringLiteral("MPPS %1 from %2: step %3")
                             .arg(KindOf(message), OneLine(message.callingAeTitle),
                                  OneLine(step ? step->instanceUid : message.instanceUid));
    if (!step) {
        m_shared.log.Log(QStringLiteral("%1 refused (%2): %3.")
                             .arg(from, StatusText(answer.status), answer.errorComment));
        return;
    }
    const QStringList accessions = step->Accessions();
    m_shared.log.Log(
        QStringLiteral("%1, accession %2, %3, recorded.")
            .arg(from,
                 accessions.isEmpty() ? QStringLiteral("none")
                                      : OneLine(accessions.join(QStringLiteral(", "))),
                 StepStateText(step->state)));
}

void MppsService::RunWriteBack() {
    std::unique_ptr<HisConnection> db = m_connections.journal(m_settings.journal);
    std::unique_ptr<HisConnection> his = m_connections.his();
    {
        StepJournal journal(*db);
        StepWriteBack writeBack(*his, m_shared.orderFiles, m_settings);
        WriteBackRunner runner({journal, writeBack, m_recent, m_shared.log, m_shared.clock,
                                m_owner, m_budget, m_stop});
        PassState state;
        const auto run = [&](const QString& uid) {
            runner.Run(uid, *m_shared.settings.Current());
        };
        do {
            WriteBackPass(journal, run, state);
        } while (WaitForWriteBackTurn());
    }
    his.reset();
    db.reset();
    Ended();
}

// A journal that stays unavailable is logged once, not at every pass.
void MppsService::WriteBackPass(StepJournal& journal,
                                const std::function<void(const QString&)>& run, PassState& state) {
    try {
        QStringList due;
        {
            const QueryBudget budget(QueryBudget::Clock::now(), m_budget, m_stop);
            const StepJournal::Scope scope(journal, budget);
            StepJournal::CreateFileFor(m_settings.journal);
            journal.Ready();
            if (!state.recentLoaded) LoadRecent(journal);
            state.recentLoaded = true;
            due = journal.Due(m_shared.clock.NowUtc());
        }
        state.lastProblem.clear();
        for (const QString& uid : due) {
            if (m_stop.load()) return;
            run(uid);
        }
    } catch (const MwlError& error) {
        if (PolicyFor(error.Kind()).reopensHis) journal.Recover();
        if (error.Description() == state.lastProblem) return;
        state.lastProblem = error.Description();
        m_shared.log.Log(QStringLiteral("MPPS write-back: the journal failed, tried again every "
                                        "%1 s: %2")
                             .arg(m_settings.retryInterval.count())
                             .arg(error.Description()));
    }
}

// Until the next accepted message or the retry interval; false at the stop.
bool MppsService::WaitForWriteBackTurn() {
    std::unique_lock lock(m_mutex);
    m_writeBackWake.wait_for(lock, m_settings.retryInterval,
                             [&] { return m_stop.load() || m_writeBackWanted; });
    m_writeBackWanted = false;
    return !m_stop.load();
}

// The window lists the steps of before the start too, oldest at the end.
void MppsService::LoadRecent(StepJournal& journal) {
    const std::vector<PerformedStep> latest = journal.Latest(RecentSteps::kKept);
    for (auto it = latest.rbegin(); it != latest.rend(); ++it)
        m_recent.Put(WriteBackRunner::Entry(*it));
}
