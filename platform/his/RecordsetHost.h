#pragma once

#include <QSqlError>

#include "platform/MwlError.h"
#include "platform/QueryBudget.h"
#include "platform/his/StatementWatch.h"

class OdbcRecordset;

// What a recordset that still fetches from the driver needs of its connection.
class RecordsetHost {
public:
    virtual ~RecordsetHost() = default;
    virtual const QueryBudget& Budget() const = 0;
    virtual StatementWatch* Watch() const = 0;
    // The driver's cancel works from another thread.
    virtual bool Cancellable() const = 0;
    // The error of a failed call as the query reports it.
    virtual MwlError Failure(const QSqlError& error, StatementWatch::Cancelled cancelled) const = 0;
    // The recordset no longer holds the statement.
    virtual void Forget(OdbcRecordset* recordset) = 0;
};
