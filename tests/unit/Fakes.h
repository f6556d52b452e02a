#pragma once

// Test doubles for the seams of the worklist service, and helpers to build
// requests the way modalities send them.

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <QDateTime>
#include <QStringList>
#include <QVariantMap>
#include <deque>
#include <functional>
#include <initializer_list>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <memory>
#include <vector>

#include "platform/Clock.h"
#include "platform/MwlError.h"
#include "platform/TextActivityLog.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/QueryConnection.h"
#include "platform/dicom/UidGenerator.h"
#include "platform/his/HisConnection.h"
#include "platform/settings/SettingsStore.h"
#include "worklist/QueryHandler.h"
#include "worklist/QuerySettings.h"
#include "worklist/SourceFor.h"
#include "worklist/StatusView.h"
#include "worklist/StudyUidLocks.h"
#include "worklist/Switches.h"
#include "worklist/Tags.h"
#include "worklist/WorklistSource.h"
#include "worklist/bramwoods/OrderFileCache.h"

// Always the same moment, so time stamps and "now" values are known.
class FixedClock : public Clock {
public:
    explicit FixedClock(QDateTime now = QDateTime(QDate(2026, 12, 3), QTime(9, 15, 42)))
        : now(std::move(now)) {}
    QDateTime Now() const override { return now; }

    QDateTime now;
};

inline const FixedClock& TestClock() {
    static const FixedClock clock;
    return clock;
}

// The real log text over the fixed clock.
class FakeLog : public TextActivityLog {
public:
    FakeLog() : TextActivityLog(TestClock()) {}

    // The log split at CR LF (an empty line stays an empty entry).
    QStringList Lines() const { return Text().split(QStringLiteral("\r\n")); }
    // What a Log(text) line reads like, without its leading CR LF.
    static QString Stamped(const QString& text) {
        return TextActivityLog::Stamp(TestClock().Now()) + QLatin1Char(' ') + text;
    }
};

class FakeStatus : public StatusView {
public:
    void SetCommState(const QString& text) override {
        std::lock_guard lock(mutex);
        commStates << text;
    }
    void ShowSql(const QString& sql) override {
        std::lock_guard lock(mutex);
        shownSql << sql;
    }
    // For a test that reads while the service may still write.
    QStringList ShownSql() const {
        std::lock_guard lock(mutex);
        return shownSql;
    }

    QStringList commStates;
    QStringList shownSql;
    mutable std::mutex mutex;
};

// One order record: column alias -> value; a null QVariant is SQL NULL.
using Row = QVariantMap;
using Rows = std::vector<Row>;

class FakeRecordset : public Recordset {
public:
    explicit FakeRecordset(Rows rows) : m_rows(std::move(rows)) {}

    bool Eof() const override { return m_next >= m_rows.size(); }
    void MoveNext() override {
        if (!Eof()) ++m_next;
    }
    QVariant Field(const QString& name) const override {
        if (Eof())
            throw MwlError(QStringLiteral("No current record (field '%1').").arg(name),
                           FailureKind::HisQueryFailed);
        const Row& row = m_rows[m_next];
        for (auto it = row.cbegin(); it != row.cend(); ++it)
            if (it.key().compare(name, Qt::CaseInsensitive) == 0) return it.value();
        // As the ODBC recordset: the HIS gave a record without the column.
        throw MwlError(
            QStringLiteral("Item cannot be found in the collection: no field '%1'.").arg(name),
            FailureKind::HisQueryFailed);
    }

private:
    Rows m_rows;
    size_t m_next = 0;
};

// Records every statement. Answers with `answer` when set, otherwise with the
// next entry of `results` (an empty recordset when none is left).
// The TALVEK and PELTA HIS are SQL Server databases, which cannot run on this
// machine (and their statements are not SQLite's dialect); this fake stands in
// for them, so the tests check the exact statements sent and script the rows.
class FakeHis : public HisConnection {
public:
    void BeginQuery(const QueryBudget&) override {
        std::lock_guard lock(mutex);
        attempted = false;
    }
    void EndQuery() override {}
    void UseConnectionString(const QString& text) override {
        std::lock_guard lock(mutex);
        connectionString = text;
    }
    void Reopen() override {
        std::lock_guard lock(mutex);
        ++reopenCount;
        attempted = true;
    }
    void ReopenAfterFailure() override {
        if (!attempted) Reopen();
    }
    bool IsOpen() const override { return true; }
    std::optional<SqlDialect> Dialect() const override { return dialect; }
    // Records how many statements had run when each query began.
    void EnsureCurrent() override {
        std::lock_guard lock(mutex);
        ensuredAt << statements.size();
    }
    std::unique_ptr<Recordset> Execute(const QString& sql) override { return Execute(sql, {}); }
    std::unique_ptr<Recordset> Execute(const QString& sql,
                                       const SqlParameters& values) override {
        std::lock_guard lock(mutex);
        statements << sql;
        parameters << values;
        if (!failWith.isEmpty()) throw MwlError(failWith, failKind);
        Rows rows;
        if (answer) {
            rows = answer(sql);
        } else if (!results.empty()) {
            rows = std::move(results.front());
            results.pop_front();
        }
        return std::make_unique<FakeRecordset>(std::move(rows));
    }

    QStringList statements;
    QList<SqlParameters> parameters;  // bound with each statement
    std::deque<Rows> results;
    std::function<Rows(const QString& sql)> answer;
    QString failWith;  // non-empty: every Execute throws MwlError with this text
    FailureKind failKind = FailureKind::HisQueryFailed;
    int reopenCount = 0;
    bool attempted = false;
    QList<qsizetype> ensuredAt;
    QString connectionString;
    std::optional<SqlDialect> dialect;
    std::mutex mutex;  // statements and answers, for workers sharing one fake
};

// A handler's own HIS connection that is the test's fake.
class BorrowedHis : public HisConnection {
public:
    explicit BorrowedHis(HisConnection& his) : m_his(his) {}
    void BeginQuery(const QueryBudget& budget) override { m_his.BeginQuery(budget); }
    void EndQuery() override { m_his.EndQuery(); }
    void UseConnectionString(const QString& text) override { m_his.UseConnectionString(text); }
    void Reopen() override { m_his.Reopen(); }
    void ReopenAfterFailure() override { m_his.ReopenAfterFailure(); }
    void EnsureCurrent() override { m_his.EnsureCurrent(); }
    std::unique_ptr<Recordset> Execute(const QString& sql) override { return m_his.Execute(sql); }
    std::unique_ptr<Recordset> Execute(const QString& sql,
                                       const SqlParameters& parameters) override {
        return m_his.Execute(sql, parameters);
    }
    bool IsOpen() const override { return m_his.IsOpen(); }
    std::optional<SqlDialect> Dialect() const override { return m_his.Dialect(); }

private:
    HisConnection& m_his;
};

// Settings in memory, addressed "application/section/key" (case-sensitive,
// as the two spellings of the worklist application are distinct stores).
class FakeSettings : public SettingsStore {
public:
    QString Read(const QString& application, const QString& section, const QString& key,
                 const QString& fallback) const override {
        const auto found = values.find(Path(application, section, key));
        return found == values.end() ? fallback : found->second;
    }
    void Write(const QString& application, const QString& section, const QString& key,
               const QString& value) override {
        values[Path(application, section, key)] = value;
        writes << Path(application, section, key) + QLatin1Char('=') + value;
    }

    void Set(const QString& application, const QString& section, const QString& key,
             const QString& value) {
        values[Path(application, section, key)] = value;
    }
    // The stored value, or a null QString when the key was never written.
    QString Stored(const QString& application, const QString& section, const QString& key) const {
        const auto found = values.find(Path(application, section, key));
        return found == values.end() ? QString() : found->second;
    }
    static QString Path(const QString& application, const QString& section, const QString& key) {
        return application + QLatin1Char('/') + section + QLatin1Char('/') + key;
    }

    std::map<QString, QString> values;
    QStringList writes;  // "application/section/key=value", in order
};

// "1.2.3.1", "1.2.3.2", ...
class SequenceUids : public UidGenerator {
public:
    QString NewUid() override { return QStringLiteral("1.2.3.%1").arg(++issued); }
    int issued = 0;
};

class FakeQueryConnection : public QueryConnection {
public:
    explicit FakeQueryConnection(DicomDataset request, QString root = QStringLiteral("WORKLIST"))
        : root(std::move(root)), request(std::move(request)) {}

    QString QueryRoot() const override { return root; }
    DicomDataset Request() const override { return request; }
    // Kept as the toolkit reads the match back from its bytes.
    void SendPending(MatchDataset match) override {
        if (abandoned) return;
        pending.push_back(match.ToDataset());
        if (onPending) onPending();
        if (static_cast<int>(pending.size()) == abandonAfter) abandoned = true;
    }
    void SendFinal() override { ++finals; }
    void NoteFailure(FailureKind kind) override { failures << ErrorCommentFor(kind); }
    bool Abandoned() const override { return abandoned; }

    QString root;
    DicomDataset request;
    std::vector<DicomDataset> pending;
    int finals = 0;
    QStringList failures;  // the Error Comments
    bool abandoned = false;
    int abandonAfter = -1;  // the peer goes away after this many matches
    std::function<void()> onPending;  // runs after each match is taken
};

// A budget for one query: QueryTimeoutSeconds of 20 from now, no stop.
struct TestBudget {
    std::atomic<bool> stop{false};
    QueryBudget budget{QueryBudget::Clock::now(), std::chrono::seconds(20), stop};
    operator const QueryBudget&() const { return budget; }
};

// Every collaborator of the worklist service, faked, and what the operator
// controls as plain fields that Snapshot() turns into the snapshot a query
// takes. `clock` is the service's "now"; the log stamps its lines with
// TestClock(), which starts at the same moment.
struct FakeServices {
    FakeLog log;
    FakeStatus status;
    FakeHis his;
    SequenceUids uids;
    FixedClock clock;
    StudyUidLocks studyUidLocks;
    OrderFileCache orderFiles;
    QuerySettings settings;
    QueryResources resources{his, uids, clock, status, studyUidLocks, orderFiles};

    ConnectionMode mode = ConnectionMode::None;
    QString BaseSQL;
    QString resultLimit = QStringLiteral("300");
    Switches switches;

    // The mode with its base statement in the mode's own dialect.
    void SetMode(ConnectionMode next) {
        mode = next;
        const WorklistSource& source = SourceFor(mode);
        BaseSQL = source.BaseStatement(source.NativeDialect());
    }
    QuerySnapshot Snapshot() const {
        QuerySnapshot snapshot;
        snapshot.mode = mode;
        snapshot.BaseSQL = BaseSQL;
        snapshot.resultLimitText = resultLimit;
        snapshot.switches = switches;
        return snapshot;
    }
    // The fields become the snapshot the next query takes.
    void Publish() {
        settings.Change([this](QuerySnapshot& next) {
            const quint64 generation = next.connectionGeneration;
            next = Snapshot();
            next.connectionGeneration = generation;
        });
    }
};

// What a query handler over the fakes shares with the other workers.
inline QueryHandler::Shared HandlerShared(FakeServices& fake) {
    return {fake.log,    fake.settings,      fake.uids,      fake.clock,
            fake.status, fake.studyUidLocks, fake.orderFiles};
}

// The mode a source goes by ("TALVEK"...), for tables that name modes.
inline ConnectionMode ModeNamed(const QString& name) {
    for (const ConnectionMode mode :
         {ConnectionMode::Talvek, ConnectionMode::Pelta, ConnectionMode::Corvante,
          ConnectionMode::Bramwoods, ConnectionMode::Orvelline})
        if (SourceFor(mode).Name() == name) return mode;
    return ConnectionMode::None;
}

// A worklist request asking for `top` at the top level and `step` in its one
// Scheduled Procedure Step item (all with empty values), the step item also
// carrying the modality.
inline DicomDataset MakeRequest(std::initializer_list<Tag> top, std::initializer_list<Tag> step,
                                const QString& modality = QStringLiteral("CR")) {
    DicomDataset request;
    for (const Tag tag : top) request.Add(tag, QVariant());
    DicomDataset item = request.AddSequenceItem(Tags::StepSequence);
    item.Add(Tags::Modality, modality);
    for (const Tag tag : step) item.Add(tag, QVariant());
    return request;
}

// Puts a value exactly as a modality sends it (ranges, wildcards), bypassing
// the conversions of DicomDataset::Add: at the top level, or with inStep in
// the first Scheduled Procedure Step item.
inline void PutRaw(DicomDataset& request, Tag tag, const char* value, bool inStep = false) {
    DcmItem* target = request.Root().get();
    if (inStep) {
        DcmItem* step = nullptr;
        if (target->findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step, 0).bad())
            throw MwlError(QStringLiteral("no step item"));
        target = step;
    }
    if (target->putAndInsertString(DcmTagKey(tag.group, tag.element), value, OFTrue).bad())
        throw MwlError(QStringLiteral("cannot put raw value"));
}
