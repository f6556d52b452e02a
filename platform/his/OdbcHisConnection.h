#pragma once

#include <QSqlDatabase>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/ActivityLog.h"
#include "platform/FileStamp.h"
#include "platform/his/HisConnection.h"
#include "platform/his/RecordsetHost.h"

class QSqlQuery;
class ServiceStatus;

// HIS connection over Qt Sql's ODBC driver, used by the one thread that made
// it. A statement executed while an earlier recordset is still being read
// first buffers that recordset's remaining rows, so drivers that allow one
// active statement per connection (FreeTDS against SQL Server) serve the
// Study UID statements inside the record loop as well as SQLite does.
//
// No call waits on the database beyond the query's budget. Each statement
// and fetch carries what is left of it as SQL_ATTR_QUERY_TIMEOUT, and the
// statement watch cancels whatever still runs at the deadline or at a stop
// (SQLCancel from its own thread, which FreeTDS and MariaDB support while
// the call runs here). SQLite's driver ignores the attribute, and its
// SQLCancel frees the statement on the cancelling thread while this one may
// still use it; so a SQLite connection waits for a lock in short slices and
// tries again while the budget lasts and no stop has come.
class OdbcHisConnection : public HisConnection, private RecordsetHost {
public:
    // Reads the connection string afresh (the mode's connection-string file);
    // nothing when the mode uses no database. Throws MwlError when it cannot.
    using ConnectionStringSource = std::function<std::optional<QString>()>;

    static constexpr int kDefaultQueryTimeoutSeconds = 20;
    // How long one SQLite call waits for a lock before it is tried again.
    static constexpr int kSqliteLockSliceMs = 250;

    OdbcHisConnection(ActivityLog& log, QString connectionString, StatementWatch* watch = nullptr);
    ~OdbcHisConnection() override;

    void BeginQuery(const QueryBudget& budget) override;
    void EndQuery() override;
    void UseConnectionString(const QString& text) override;
    void Reopen() override;
    void ReopenAfterFailure() override;
    void EnsureCurrent() override;
    std::unique_ptr<Recordset> Execute(const QString& sql) override;
    std::unique_ptr<Recordset> Execute(const QString& sql,
                                       const SqlParameters& parameters) override;
    std::optional<SqlDialect> Dialect() const override { return m_dialect; }

    // Closes the connection; statements fail until the next Reopen.
    void Close();
    const QString& ConnectionString() const { return m_connectionString; }
    // Used from the next Reopen on.
    void SetConnectionString(const QString& text);
    void SetConnectionStringSource(ConnectionStringSource source) { m_source = std::move(source); }
    // The budget of calls made outside a query (values below 1 give the
    // default), and the whole budget of the queries' messages.
    void SetQueryTimeout(int seconds);
    int QueryTimeoutSeconds() const { return m_timeoutSeconds; }
    bool IsOpen() const override;
    // The HIS state of the service: every answer and failure of this
    // connection is recorded there (null: nowhere).
    void SetStatus(ServiceStatus* status) { m_status = status; }

private:
    // RecordsetHost
    const QueryBudget& Budget() const override;
    StatementWatch* Watch() const override { return m_watch; }
    bool Cancellable() const override { return m_dialect != SqlDialect::Sqlite; }
    MwlError Failure(const QSqlError& error, StatementWatch::Cancelled cancelled) const override;
    void Forget(OdbcRecordset* recordset) override;

    void Recover();
    void Open(QSqlDatabase& db);
    // The budget a call outside a query runs under: a fresh one each time.
    const QueryBudget& CallBudget();
    bool RetryAfterLock(const QSqlError& error) const;
    MwlError NotOpen() const;
    void LimitStatementTime(const QSqlQuery& query) const;
    void CannotConnect(const QString& why);
    void Answered() const;
    void Failed(FailureKind kind) const;

    ActivityLog& m_log;
    StatementWatch* m_watch;
    ServiceStatus* m_status = nullptr;
    QString m_connectionString;
    std::optional<SqlDialect> m_dialect;
    ConnectionStringSource m_source;
    QString m_name;
    QSqlDatabase m_db;
    int m_timeoutSeconds = kDefaultQueryTimeoutSeconds;
    const QueryBudget* m_queryBudget = nullptr;
    std::unique_ptr<QueryBudget> m_callBudget;
    const std::atomic<bool> m_neverStops{false};
    bool m_attempted = false;  // this query has tried to connect
    OdbcRecordset* m_streaming = nullptr;
    // A SQLite connection's database file and which file it was when opened.
    QString m_databaseFile;
    std::optional<FileStamp> m_openedFile;
    QString m_openFailure;  // why the last attempt to open failed
};
