#pragma once

#include "worklist/DatabaseSource.h"

// PELTA: the hospital's order tables in the database PELTA on SQL Server.
// Radiology and ultrasound procedures are told apart by their code prefix;
// a patient ID, when given, is the only key that narrows the orders.
class PeltaSource : public DatabaseSource {
public:
    QString Name() const override { return QStringLiteral("PELTA"); }
    QString ConnectionFile() const override { return QStringLiteral("\\PELTA.txt"); }
    QString BaseStatement(SqlDialect dialect) const override;
    QString Statement(const StatementInput& input) const override;
    void FillMatch(MatchFill& fill) const override;
    ListingPlan Listing(const QString& modalityBox, SqlDialect dialect) const override;
    QString ListingLine(const Recordset& record) const override;
};
