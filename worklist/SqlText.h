#pragma once

#include <QString>

// The SQL dialect of a HIS server: SQL Server for TALVEK and PELTA, MySQL or
// MariaDB for ORVELLINE. Everything that is spelt differently between the
// two is decided here.
enum class SqlDialect { SqlServer, MySql };

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
    if (dialect == SqlDialect::MySql) return QStringLiteral("DATE(") + column + ")";
    return QStringLiteral("CONVERT(date, ") + column + ")";
}

// The time part of a date-time column, comparable with an 'HH:mm:ss' literal.
inline QString SqlTimePart(const QString& column, SqlDialect dialect) {
    if (dialect == SqlDialect::MySql) return QStringLiteral("TIME(") + column + ")";
    return QStringLiteral("CONVERT(time, ") + column + ")";
}
