#pragma once

#include <QString>
#include <memory>

#include "platform/his/Recordset.h"

// The connection to the hospital information system's database.
class HisConnection {
public:
    virtual ~HisConnection() = default;

    // Closes (ignoring errors) and opens again with the stored connection
    // string; does nothing when that string is empty. A failure to open is
    // written to the activity log, not thrown.
    virtual void Reopen() = 0;

    // Runs before each query, so the query reads the database as it is now: a
    // connection that is not open (or has no connection string) is opened
    // again with its connection string read afresh, and a database file that
    // was replaced since it was opened is reopened. Throws MwlError when the
    // database file is gone; failures to open go to the activity log.
    virtual void EnsureCurrent() = 0;

    // Runs one statement. A SELECT gives its rows; other statements give an
    // empty recordset. Throws MwlError with the database's message on failure.
    // A recordset returned earlier stays readable.
    virtual std::unique_ptr<Recordset> Execute(const QString& sql) = 0;
};
