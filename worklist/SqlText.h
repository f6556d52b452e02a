#pragma once

#include <QString>
#include <QStringList>

#include "platform/his/SqlDialect.h"

// Everything that is spelt differently between the HIS dialects is decided
// here.

// A value to be placed between single quotes in a statement: every quote is
// doubled, and in the MySQL dialect every backslash too (MySQL reads it as an
// escape character, so a value ending in "\" would swallow the closing
// quote), so no value can end the literal or change the statement.
inline QString SqlLiteralText(QString value, SqlDialect dialect = SqlDialect::SqlServer) {
    if (dialect == SqlDialect::MySql) value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return value.replace(QLatin1Char('\''), QLatin1String("''"));
}

// The date part of a date-time column, comparable with a 'yyyy-MM-dd' literal.
inline QString SqlDatePart(const QString& column, SqlDialect dialect) {
    switch (dialect) {
        case SqlDialect::MySql:
            return QStringLiteral("DATE(") + column + ")";
        case SqlDialect::Sqlite:
            return QStringLiteral("date(") + column + ")";
        case SqlDialect::SqlServer:
            break;
    }
    return QStringLiteral("CONVERT(date, ") + column + ")";
}

// The time part of a date-time column, comparable with an 'HH:mm:ss' literal.
inline QString SqlTimePart(const QString& column, SqlDialect dialect) {
    switch (dialect) {
        case SqlDialect::MySql:
            return QStringLiteral("TIME(") + column + ")";
        case SqlDialect::Sqlite:
            return QStringLiteral("time(") + column + ")";
        case SqlDialect::SqlServer:
            break;
    }
    return QStringLiteral("CONVERT(time, ") + column + ")";
}

// Texts joined: "+" on SQL Server, CONCAT on MySQL ("+" adds numbers there),
// "||" on SQLite (which has no CONCAT before 3.44). `separator` goes between
// the parts as written, with the blanks the statement wants around them.
inline QString SqlConcat(const QStringList& parts, SqlDialect dialect) {
    switch (dialect) {
        case SqlDialect::MySql:
            return QStringLiteral("CONCAT(") + parts.join(QStringLiteral(", ")) + ")";
        case SqlDialect::Sqlite:
            return parts.join(QStringLiteral(" || "));
        case SqlDialect::SqlServer:
            break;
    }
    return parts.join(QStringLiteral(" + "));
}
