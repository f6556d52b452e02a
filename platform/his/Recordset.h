#pragma once

#include <QString>
#include <QVariant>

// Rows of one statement, read forward once. Field lookup ignores letter case;
// a SQL NULL is a null QVariant, never an empty string.
class Recordset {
public:
    virtual ~Recordset() = default;
    virtual bool Eof() const = 0;
    // Throws MwlError when the next row cannot be fetched: an error is never
    // an early end.
    virtual void MoveNext() = 0;
    // Throws MwlError when the row has no such column.
    virtual QVariant Field(const QString& name) const = 0;
    // The caller reads at most this many rows after the current one. A
    // recordset that has to hold its remaining rows in memory (see
    // HisConnection::Execute) keeps no more than that.
    virtual void LimitRemaining(qint64 rows) { (void)rows; }
    // How many rows an insert, update or delete touched; -1 when unknown.
    virtual qint64 RowsAffected() const { return -1; }
};
