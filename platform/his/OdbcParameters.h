#pragma once

#include <sql.h>

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "platform/his/HisConnection.h"

// A statement's named placeholders (":Name") as the driver's positional ones
// ("?"), and their values bound through ODBC with their exact lengths. Qt's
// own binding hands the MariaDB driver each text with its terminating zero,
// which that driver stores as part of the value (and refuses where the text
// just fits its column); these values reach every driver as they are.
//
// A placeholder is a colon and a name outside quotes and comments; "::" and
// ":=" are not placeholders. Comments are left out of the statement.
class OdbcParameters {
public:
    // Throws MwlError when the statement names a parameter without a value.
    OdbcParameters(const QString& sql, const SqlParameters& values);
    OdbcParameters(const OdbcParameters&) = delete;
    OdbcParameters& operator=(const OdbcParameters&) = delete;

    // The statement with "?" for each placeholder.
    const QString& Statement() const { return m_statement; }
    // The parameter names in the order of the placeholders.
    const QStringList& Names() const { return m_names; }
    // Binds the values to the prepared statement; the driver may read them
    // for as long as this object lives. The driver's message on failure.
    QString BindTo(SQLHSTMT statement);

private:
    struct Bound {
        bool null = false;
        bool number = false;
        std::u16string text;
        SQLBIGINT integer = 0;
        SQLLEN length = 0;
    };

    QString m_statement;
    QStringList m_names;
    std::vector<Bound> m_bound;
};
