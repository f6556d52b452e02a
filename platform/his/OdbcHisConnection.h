#pragma once

#include <QSqlDatabase>
#include <QString>
#include <memory>

#include "platform/ActivityLog.h"
#include "platform/his/HisConnection.h"

class OdbcRecordset;

// HIS connection over Qt Sql's ODBC driver. A statement executed while an
// earlier recordset is still being read first buffers that recordset's
// remaining rows, so drivers that allow one active statement per connection
// (FreeTDS against SQL Server) serve the Study UID statements inside the
// record loop as well as SQLite does.
class OdbcHisConnection : public HisConnection {
public:
    OdbcHisConnection(ActivityLog& log, QString connectionString);
    ~OdbcHisConnection() override;

    void Reopen() override;
    // Closes the connection; statements fail until the next Reopen.
    void Close();
    std::unique_ptr<Recordset> Execute(const QString& sql) override;

    const QString& ConnectionString() const { return m_connectionString; }
    // Used from the next Reopen on.
    void SetConnectionString(const QString& text) { m_connectionString = text; }
    bool IsOpen() const;

private:
    friend class OdbcRecordset;
    void Forget(OdbcRecordset* recordset);

    ActivityLog& m_log;
    QString m_connectionString;
    QString m_name;
    OdbcRecordset* m_streaming = nullptr;
};
