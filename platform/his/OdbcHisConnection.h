#pragma once

#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "platform/ActivityLog.h"
#include "platform/FileStamp.h"
#include "platform/his/HisConnection.h"

class OdbcRecordset;
class QSqlQuery;

// HIS connection over Qt Sql's ODBC driver. A statement executed while an
// earlier recordset is still being read first buffers that recordset's
// remaining rows, so drivers that allow one active statement per connection
// (FreeTDS against SQL Server) serve the Study UID statements inside the
// record loop as well as SQLite does.
//
// No statement waits on the database without limit: each one carries the
// query time-out (SQL_ATTR_QUERY_TIMEOUT, which FreeTDS and MariaDB enforce
// for the statement and its fetches), and a SQLite connection gets the same
// limit as its lock wait. SQLite's driver ignores the statement attribute,
// and cancelling from another thread is no way out there: its SQLCancel
// frees the statement on the calling thread while the service thread may
// still be using it.
class OdbcHisConnection : public HisConnection {
public:
    // Reads the connection string afresh (the mode's connection-string file);
    // nothing when the mode uses no database. Throws MwlError when it cannot.
    using ConnectionStringSource = std::function<std::optional<QString>()>;

    static constexpr int kDefaultQueryTimeoutSeconds = 20;

    OdbcHisConnection(ActivityLog& log, QString connectionString);
    ~OdbcHisConnection() override;

    void Reopen() override;
    // Closes the connection; statements fail until the next Reopen.
    void Close();
    void EnsureCurrent() override;
    std::unique_ptr<Recordset> Execute(const QString& sql) override;

    const QString& ConnectionString() const { return m_connectionString; }
    // Used from the next Reopen on.
    void SetConnectionString(const QString& text) { m_connectionString = text; }
    void SetConnectionStringSource(ConnectionStringSource source) { m_source = std::move(source); }
    // Longest wait for one statement or fetch (values below 1 give the
    // default); used from the next Reopen on.
    void SetQueryTimeout(int seconds);
    int QueryTimeoutSeconds() const { return m_timeoutSeconds; }
    bool IsOpen() const;

private:
    friend class OdbcRecordset;
    void Forget(OdbcRecordset* recordset);
    void Recover();
    void Open(QSqlDatabase& db);
    void LimitStatementTime(const QSqlQuery& query) const;

    ActivityLog& m_log;
    QString m_connectionString;
    ConnectionStringSource m_source;
    QString m_name;
    int m_timeoutSeconds = kDefaultQueryTimeoutSeconds;
    OdbcRecordset* m_streaming = nullptr;
    // A SQLite connection's database file and which file it was when opened.
    QString m_databaseFile;
    std::optional<FileStamp> m_openedFile;
};
