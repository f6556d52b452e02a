#pragma once

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <deque>
#include <vector>

#include "platform/his/Recordset.h"

class OdbcHisConnection;

// Streams rows from a forward-only query; can switch to buffered rows when its
// connection needs the statement handle for another statement.
class OdbcRecordset : public Recordset {
public:
    OdbcRecordset(OdbcHisConnection* owner, QSqlQuery query);
    ~OdbcRecordset() override;

    bool Eof() const override { return m_eof; }
    void MoveNext() override;
    QVariant Field(const QString& name) const override;

    // Reads every remaining row into memory and releases the statement.
    void BufferRemaining();
    void Detach() { m_owner = nullptr; }

private:
    std::vector<QVariant> ReadRow() const;
    void Load();

    OdbcHisConnection* m_owner;
    QSqlQuery m_query;
    QSqlRecord m_columns;
    bool m_buffered = false;
    bool m_eof = true;
    std::vector<QVariant> m_row;
    std::deque<std::vector<QVariant>> m_rest;
};
