#pragma once

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "platform/MwlError.h"
#include "platform/his/Recordset.h"
#include "platform/his/RecordsetHost.h"

// Streams rows from a forward-only query; can switch to buffered rows when its
// connection needs the statement handle for another statement. Every fetch is
// checked: a failing first row fails the statement, a failing later row fails
// the move to it, also when the rows were buffered. Fetches from the driver
// run under the host's budget and watch.
class OdbcRecordset : public Recordset {
public:
    // Fetches the first row; throws MwlError when that fails.
    OdbcRecordset(RecordsetHost* host, QSqlQuery query);
    ~OdbcRecordset() override;

    bool Eof() const override { return m_eof; }
    void MoveNext() override;
    QVariant Field(const QString& name) const override;
    void LimitRemaining(qint64 rows) override { m_wanted = rows; }
    std::optional<qint64> RowsChanged() const override { return m_rowsChanged; }

    // Reads the remaining rows the caller can still use into memory and
    // releases the statement. A fetch error is kept and raised when reading
    // reaches the row that failed. Never throws.
    void BufferRemaining();
    void Detach() { m_host = nullptr; }
    // What the driver may still read while rows are fetched (bound values).
    void KeepAlive(std::shared_ptr<const void> owned) { m_kept = std::move(owned); }

private:
    // The next row into `row`; false at the end. Throws MwlError.
    bool Fetch(std::vector<QVariant>& row);
    void ReadRow(std::vector<QVariant>& row);
    void* StatementHandle() const;
    void MoveNextBuffered();
    void Release();

    RecordsetHost* m_host;
    QSqlQuery m_query;
    QSqlRecord m_columns;
    std::vector<bool> m_exactNumbers;  // columns read as the driver's text
    bool m_buffered = false;
    bool m_eof = true;
    qint64 m_wanted = -1;  // rows the caller can still use; -1: no limit
    qint64 m_rowsAffected = -1;
    std::vector<QVariant> m_row;
    std::deque<std::vector<QVariant>> m_rest;
    std::optional<MwlError> m_restError;  // where buffering stopped on an error
    std::optional<qint64> m_rowsChanged;   // a statement without rows
    std::shared_ptr<const void> m_kept;
};
