#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <vector>

#include "mpps/PerformedStep.h"
#include "platform/his/HisConnection.h"
#include "platform/his/HisScope.h"

// The journal of performed procedure steps: one row per step in the table
// mpps_journal, on any ODBC database (SQLite by default; a MariaDB or SQL
// Server that several servers share). Every value is bound as a parameter.
//
// Each change is one statement, so servers sharing the journal never lose
// each other's changes: a step changes only from the version read (Update),
// the write-back of a step is claimed by one server at a time (Claim), and
// whether a write-back is due is worked out by the database from the state
// it holds at that moment.
//
// Every call throws MwlError when the database fails.
class StepJournal {
public:
    explicit StepJournal(HisConnection& db) : m_db(db) {}

    // The calls made while a scope lasts wait for the database at most what
    // is left of its budget, and end at a stop.
    class Scope : public HisScope {
    public:
        Scope(StepJournal& journal, const QueryBudget& budget) : HisScope(journal.m_db, budget) {}
    };

    // Opens the database when it is not open (or was replaced) and creates
    // the table when it is missing. Throws MwlError when it cannot.
    void Ready();
    // After a failure of the database: a fresh connection next time.
    void Recover() { m_db.ReopenAfterFailure(); }
    // Creates the table when it is missing.
    void Prepare();
    // A SQLite journal's file is made when missing (the connection opens
    // only existing files); its folder must exist.
    static void CreateFileFor(const QString& connectionString);

    std::optional<PerformedStep> Find(const QString& instanceUid);
    // False when a step with this UID is there already.
    bool Insert(const PerformedStep& step);
    // The state, attributes and time of the step, if its row is still at
    // the version read; false when another change came first.
    bool Update(const PerformedStep& step, qint64 versionRead);

    // The write-back of a due step for the owner, for `hold`; false when
    // none is due or another owner holds it.
    bool Claim(const QString& instanceUid, const QString& owner, const QDateTime& now,
               std::chrono::seconds hold);
    // The owner's write-back progress: what was written, and the note.
    void Progress(const PerformedStep& step, const QString& owner);
    void Release(const QString& instanceUid, const QString& owner);

    // The steps whose write-back is due and not held at the moment.
    QStringList Due(const QDateTime& now);
    // The steps changed last, newest first.
    std::vector<PerformedStep> Latest(int count);

    // The journal's time text: UTC, sortable as text.
    static QString TimeText(const QDateTime& when);

private:
    static PerformedStep StepOf(const Recordset& row);
    std::unique_ptr<Recordset> Run(const QString& sql, const SqlParameters& parameters);

    HisConnection& m_db;
};
