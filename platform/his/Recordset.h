#pragma once

#include <QString>
#include <QVariant>

// Rows of one statement, read forward once. Field lookup ignores letter case;
// a SQL NULL is a null QVariant, never an empty string.
class Recordset {
public:
    virtual ~Recordset() = default;
    virtual bool Eof() const = 0;
    virtual void MoveNext() = 0;
    // Throws MwlError when the row has no such column.
    virtual QVariant Field(const QString& name) const = 0;
};
