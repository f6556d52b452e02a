#pragma once

#include "worklist/DatabaseSource.h"

// ORVELLINE: the worksheet table of a MySQL or MariaDB server (or of the
// embedded SQLite database, in its own dialect); at most 50 orders, newest
// first.
class OrvellineSource : public DatabaseSource {
public:
    QString Name() const override { return QStringLiteral("ORVELLINE"); }
    QString ConnectionFile() const override { return QStringLiteral("\\ORVELLINE.txt"); }
    SqlDialect NativeDialect() const override { return SqlDialect::MySql; }
    QString BaseStatement(SqlDialect dialect) const override;
    QString Statement(const StatementInput& input) const override;
    void FillMatch(MatchFill& fill) const override;
    QString StepModality(const RequestKeys& keys, const Recordset& record) const override;
    ListingPlan Listing(const QString& modalityBox, SqlDialect dialect) const override;
    QString ListingLine(const Recordset& record) const override;
};
