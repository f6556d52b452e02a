#pragma once

#include "worklist/DatabaseSource.h"

// TALVEK: the hospital's radiology databases on one SQL Server (Radiology,
// Build_File, patient_data, Clinical_Area, CARDIO). The statement is built
// per modality from the department that does its exams (MakeSQL).
class TalvekSource : public DatabaseSource {
public:
    QString Name() const override { return QStringLiteral("TALVEK"); }
    QString ConnectionFile() const override { return QStringLiteral("\\DBServer.txt"); }
    bool HasTalvekRequestTables() const override { return true; }
    QString BaseStatement(SqlDialect) const override { return QString(); }
    QString Statement(const StatementInput& input) const override;
    void FillMatch(MatchFill& fill) const override;
    ListingPlan Listing(const QString& modalityBox, SqlDialect dialect) const override;
    QString ListingLine(const Recordset& record) const override;
};
