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

    // Runs one statement. A SELECT gives its rows; other statements give an
    // empty recordset. Throws MwlError with the database's message on failure.
    // A recordset returned earlier stays readable.
    virtual std::unique_ptr<Recordset> Execute(const QString& sql) = 0;
};
