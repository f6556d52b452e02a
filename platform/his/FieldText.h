#pragma once

#include <QString>
#include <QVariant>

#include "platform/his/Recordset.h"

// A field's value as text: "" for SQL NULL, otherwise the value's own text.
inline QString FieldText(const QVariant& value) {
    return value.isNull() ? QString() : value.toString();
}

// A field's value as the operator reads it in a listing: "" for SQL NULL; a
// date or date-and-time value in the locale's short date form, followed by
// its time of day unless that is midnight; any other value as FieldText. Text
// columns that hold dates (SQLite keeps dates as text) stay as stored.
QString DisplayText(const QVariant& value);

// The record's field, by name, as a listing shows it (DisplayText).
inline QString DisplayField(const Recordset& record, const char* name) {
    return DisplayText(record.Field(QLatin1String(name)));
}
