#pragma once

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <deque>
#include <optional>
#include <vector>

#include "platform/MwlError.h"
#include "platform/his/Recordset.h"

class OdbcHisConnection;

// Streams rows from a forward-only query; can switch to buffered rows when its
// connection needs the statement handle for another statement. Every fetch is
// checked: a failing first row fails the statement, a failing later row fails
// the move to it, also when the rows were buffered.
class OdbcRecordset : public Recordset {
public:
    // Fetches the first row; throws MwlError when that fails.
    OdbcRecordset(OdbcHisConnection* owner, QSqlQuery query, int timeoutSeconds);
    ~OdbcRecordset() override;

    bool Eof() const override { return m_eof; }
    void MoveNext() override;
    QVariant Field(const QString& name) const override;
    void LimitRemaining(qint64 rows) override { m_wanted = rows; }

    // Reads the remaining rows the caller can still use into memory and
    // releases the statement. A fetch error is kept and raised when reading
    // reaches the row that failed. Never throws.
    void BufferRemaining();
    void Detach() { m_owner = nullptr; }

private:
    // The next row into `row`; false at the end. Throws MwlError.
    bool Fetch(std::vector<QVariant>& row);
    void MoveNextBuffered();
    void Release();

    OdbcHisConnection* m_owner;
    QSqlQuery m_query;
    QSqlRecord m_columns;
    int m_timeoutSeconds;
    bool m_buffered = false;
    bool m_eof = true;
    qint64 m_wanted = -1;  // rows the caller can still use; -1: no limit
    std::vector<QVariant> m_row;
    std::deque<std::vector<QVariant>> m_rest;
    std::optional<MwlError> m_restError;  // where buffering stopped on an error
};
