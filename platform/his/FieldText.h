#pragma once

#include <QString>
#include <QVariant>

// A field's value as text: "" for SQL NULL, otherwise the value's own text.
inline QString FieldText(const QVariant& value) {
    return value.isNull() ? QString() : value.toString();
}

// A field's value as the operator reads it in a listing: "" for SQL NULL; a
// date or date-and-time value in the locale's short date form, followed by
// its time of day unless that is midnight; any other value as FieldText. Text
// columns that hold dates (SQLite keeps dates as text) stay as stored.
QString DisplayText(const QVariant& value);
