#pragma once

#include "worklist/DatabaseSource.h"

// CORVANTE: one x-ray worklist table (xray_worklist). Every open, valid row
// is a candidate whatever keys the modality sends; the rows marked done are
// the "Exams Done..." listing.
class CorvanteSource : public DatabaseSource {
public:
    QString Name() const override { return QStringLiteral("CORVANTE"); }
    QString ConnectionFile() const override { return QStringLiteral("\\CORVANTE.txt"); }
    QString BaseStatement(SqlDialect dialect) const override;
    QString Statement(const StatementInput& input) const override;
    void FillMatch(MatchFill& fill) const override;
    QString StepModality(const RequestKeys& keys, const Recordset& record) const override;
    ListingPlan Listing(const QString& modalityBox, SqlDialect dialect) const override;
    QString ListingLine(const Recordset& record) const override;
    std::optional<QString> DoneExamsStatement(SqlDialect dialect) const override;
    // The row of the order becomes one of the "Exams Done...".
    QString DefaultCompletedStatement() const override {
        return QStringLiteral("update xray_worklist set is_done=1 where worklistid=:AccessionNumber");
    }
};
