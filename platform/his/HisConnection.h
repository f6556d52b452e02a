#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

#include "platform/QueryBudget.h"
#include "platform/his/Recordset.h"
#include "platform/his/SqlDialect.h"

// The values of a statement's named placeholders: (":Name" without the
// colon, value). A null value of a type (QVariant(QMetaType::fromType<QString>()))
// is SQL NULL.
using SqlParameters = QList<QPair<QString, QVariant>>;

// The connection to the hospital information system's database. Each query
// worker and the tools have one of their own; it is used by one thread.
class HisConnection {
public:
    virtual ~HisConnection() = default;

    // Every call from now on, until EndQuery, waits for the HIS at most what
    // is left of the budget, which must outlive the query. A query makes at
    // most one connection attempt (see EnsureCurrent and ReopenAfterFailure).
    virtual void BeginQuery(const QueryBudget& budget) = 0;
    virtual void EndQuery() = 0;

    // The connection string from the next opening on; a connection open with
    // another string is closed.
    virtual void UseConnectionString(const QString& text) = 0;

    // Closes (ignoring errors) and opens again with the stored connection
    // string; does nothing when that string is empty. A failure to open is
    // written to the activity log, not thrown.
    virtual void Reopen() = 0;

    // After a failure on the HIS side: reopens, unless this query has made its
    // connection attempt already (a HIS that is down costs one attempt per
    // query, not two).
    virtual void ReopenAfterFailure() = 0;

    // Runs before each query's first statement, so the query reads the
    // database as it is now: a connection that is not open (or has no
    // connection string) is opened again with its connection string read
    // afresh, and a database file that was replaced since it was opened is
    // reopened. Throws MwlError when the database file is gone; failures to
    // open go to the activity log.
    virtual void EnsureCurrent() = 0;

    // Runs one statement. A SELECT gives its rows; other statements give an
    // empty recordset. Throws MwlError with the database's message on failure.
    // A recordset returned earlier stays readable.
    virtual std::unique_ptr<Recordset> Execute(const QString& sql) = 0;
    // Runs one statement whose ":Name" placeholders are bound to the values
    // of the parameters of that name by the driver, never written into the
    // text: whatever a value holds, it stays one value. A parameter the
    // statement does not name is left out. Otherwise as Execute(sql); the
    // recordset says how many rows a change touched.
    virtual std::unique_ptr<Recordset> Execute(const QString& sql,
                                               const SqlParameters& parameters) = 0;

    virtual bool IsOpen() const = 0;
    // The SQL dialect of the connection's driver; none when the driver is
    // not a known one.
    virtual std::optional<SqlDialect> Dialect() const = 0;
};
