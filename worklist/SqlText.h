#pragma once

#include <QString>

// How a server reads a quoted literal. MySQL and MariaDB (the ORVELLINE
// server) also treat a backslash as an escape character, so there a value
// ending in "\" would swallow the closing quote.
enum class SqlDialect { Standard, MySql };

// A value to be placed between single quotes in a statement: every quote is
// doubled, and in the MySQL dialect every backslash too, so no value can end
// the literal or change the statement.
inline QString SqlLiteralText(QString value, SqlDialect dialect = SqlDialect::Standard) {
    if (dialect == SqlDialect::MySql) value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return value.replace(QLatin1Char('\''), QLatin1String("''"));
}
