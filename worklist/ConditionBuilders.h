#pragma once

#include <QDateTime>
#include <QString>

#include "platform/dicom/DicomAttribute.h"
#include "worklist/SqlText.h"

// Turn the matching keys of a worklist query into SQL conditions. Each builder
// appends to the end of a statement that already stands inside its WHERE
// clause; every condition starts with " AND ". Values between single quotes
// are escaped for the given dialect (SqlLiteralText); the default dialect is
// SQL Server, the server of TALVEK and PELTA. A key that cannot be read as a
// date or time throws MwlError.

// Nothing for "" or "*", a like condition when the value holds a star,
// otherwise an equality.
void AddStringCondition(QString& query, const QString& value, const QString& column,
                        SqlDialect dialect = SqlDialect::SqlServer);

// Every "*" becomes "%"; nothing else changes.
QString StarToPercent(QString a);

// A single value follows the string rules; several values give an OR-list of
// equalities. An absent or null key adds nothing.
void AddListCondition(QString& query, const DicomAttribute& key, const QString& column,
                      SqlDialect dialect = SqlDialect::SqlServer);

// column + op + 'yyyy-mm-dd hh:mm', seconds dropped; SQLite compares the
// stored text, so there the literal carries the seconds as zero.
void AddDateComparison(QString& query, const QDateTime& when, const QString& op,
                       const QString& column, SqlDialect dialect = SqlDialect::SqlServer);

// Both ends of a date or time key's range, open ends from 1800-01-01 to
// 2999-01-01; nothing for an absent, null, empty or universal key.
void AddDateRangeCondition(QString& query, const DicomAttribute& key, const QString& column);

// One date-time column matched by a date key and a time key together. When
// only one of the keys is present, it is matched on the column's date part
// ('yyyy-MM-dd') or time part ('HH:mm:ss') in the dialect's own functions.
void AddLinkedDateTimeCondition(QString& query, const DicomAttribute& datecondition,
                                const DicomAttribute& timecondition, const QString& dbname,
                                SqlDialect dialect = SqlDialect::SqlServer);

// Family and given name components of a person name key.
void AddNameCondition(QString& query, const DicomAttribute& condition, const QString& dbsurname,
                      const QString& dbforename, SqlDialect dialect = SqlDialect::SqlServer);
