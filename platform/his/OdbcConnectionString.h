#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "platform/his/SqlDialect.h"

// The attributes of an ODBC connection string such as
// "Driver=SQLite3;Database=/var/lib/talvek/his.db": keywords ignore letter
// case, and a value in braces may hold ";".
class OdbcConnectionString {
public:
    explicit OdbcConnectionString(QString text);

    const QString& Text() const { return m_text; }
    // The first value given for the keyword.
    std::optional<QString> Value(const QString& keyword) const;
    // The ODBC driver: the Driver keyword's value, or the driver a data
    // source name (DSN) stands for in odbc.ini.
    QString DriverName() const;
    // The dialect of the driver's database; none when the driver is not one
    // of the known ones.
    std::optional<SqlDialect> Dialect() const;
    // True for SQLite's ODBC drivers, which keep the database in one file.
    bool IsSqlite() const { return Dialect() == SqlDialect::Sqlite; }
    // The database file of a SQLite connection; empty for other drivers, a
    // data source name, an in-memory database or a URI.
    QString SqliteFile() const;
    // Where the database is, for the log, never with credentials: "database
    // file /srv/his.db", "server his port 1433, database Radiology", "socket
    // /run/mysqld.sock", "data source RIS"; empty when the text says none.
    QString Where() const;
    // For SQLite the text with a lock wait ("Timeout", in milliseconds) of at
    // most the given time: a shorter wait already in the text is kept. Other
    // drivers' texts come back unchanged.
    QString WithLockWait(qint64 milliseconds) const;

private:
    struct Attribute {
        QString keyword;
        QString value;
        qsizetype start = 0;  // of the keyword
        qsizetype end = 0;    // after the value
    };
    const Attribute* Find(const QString& keyword) const;

    QString m_text;
    std::vector<Attribute> m_attributes;
};
