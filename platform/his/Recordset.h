#pragma once

#include <QString>
#include <QVariant>
#include <optional>

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
    // For a statement that gives no rows at all (an UPDATE, a DELETE): how
    // many rows it changed, -1 when the driver does not say. None for a
    // statement that gives rows, even when it gives none of them.
    virtual std::optional<qint64> RowsChanged() const { return std::nullopt; }
};
