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
#include <map>
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
#include "worklist/StatusView.h"
#include "worklist/Switches.h"
#include "worklist/Tags.h"
#include "worklist/WorklistServices.h"

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

class FakeSwitches : public Switches {
public:
    bool ShowRequests() const override { return showRequests; }
    bool ReplaceEnye() const override { return replaceEnye; }
    bool GenerateStudyUid() const override { return generateStudyUid; }
    bool Trace() const override { return trace; }
    bool ReturnThisQuery() const override { return returnThisQuery; }
    QString SqlBoxText() const override { return sqlBoxText; }
    QString InstitutionBoxText() const override { return institutionBoxText; }
    QString Hl7FolderText() const override { return hl7FolderText; }

    bool showRequests = false;
    bool replaceEnye = false;
    bool generateStudyUid = false;
    bool trace = false;
    bool returnThisQuery = false;
    QString sqlBoxText;
    QString institutionBoxText;
    QString hl7FolderText;
};

class FakeStatus : public StatusView {
public:
    void SetCommState(const QString& text) override { commStates << text; }
    void ShowSql(const QString& sql) override { shownSql << sql; }

    QStringList commStates;
    QStringList shownSql;
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
        if (Eof()) throw MwlError(QStringLiteral("No current record (field '%1').").arg(name));
        const Row& row = m_rows[m_next];
        for (auto it = row.cbegin(); it != row.cend(); ++it)
            if (it.key().compare(name, Qt::CaseInsensitive) == 0) return it.value();
        throw MwlError(
            QStringLiteral("Item cannot be found in the collection: no field '%1'.").arg(name));
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
    void Reopen() override { ++reopenCount; }
    // Records how many statements had run when each query began.
    void EnsureCurrent() override { ensuredAt << statements.size(); }
    std::unique_ptr<Recordset> Execute(const QString& sql) override {
        statements << sql;
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
    std::deque<Rows> results;
    std::function<Rows(const QString& sql)> answer;
    QString failWith;  // non-empty: every Execute throws MwlError with this text
    FailureKind failKind = FailureKind::HisQueryFailed;
    int reopenCount = 0;
    QList<qsizetype> ensuredAt;
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
};

// Every collaborator of the worklist service, faked, and the services bundle
// over them. `clock` is the service's "now"; the log stamps its lines with
// TestClock(), which starts at the same moment.
struct FakeServices {
    FakeLog log;
    FakeSwitches switches;
    FakeStatus status;
    FakeHis his;
    FakeSettings settings;
    SequenceUids uids;
    FixedClock clock;
    ServiceState state;
    WorklistServices services{log, switches, status, his, settings, uids, clock, state};
};

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
