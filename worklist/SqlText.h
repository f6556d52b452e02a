#pragma once

#include <QString>

// A value to be placed between single quotes in a statement: every quote is
// doubled, so no value can end the literal or change the statement.
inline QString SqlLiteralText(QString value) {
    return value.replace(QLatin1Char('\''), QLatin1String("''"));
}
