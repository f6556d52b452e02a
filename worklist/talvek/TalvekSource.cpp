#include "worklist/talvek/TalvekSource.h"

#include "worklist/ConditionBuilders.h"
#include "worklist/MatchFill.h"
#include "worklist/Tags.h"
#include "worklist/talvek/TalvekRecord.h"
#include "worklist/talvek/TalvekStatement.h"

QString TalvekSource::Statement(const StatementInput& input) const {
    const RequestKeys& keys = input.keys;
    const DicomAttribute accession = keys.request.Item(Tags::AccessionNumber);
    const DicomAttribute patientId = keys.request.Item(Tags::PatientId);
    const DicomAttribute patientName = keys.request.Item(Tags::PatientName);
    QString WhereStr;
    AddListCondition(WhereStr, accession, QStringLiteral("RequestNum"));
    AddLinkedDateTimeCondition(WhereStr, keys.requestStep.Item(Tags::StepStartDate),
                               keys.requestStep.Item(Tags::StepStartTime),
                               QStringLiteral("XRR.Transdate"));
    AddListCondition(WhereStr, patientId, QStringLiteral("XRR.HospNum"));
    AddNameCondition(WhereStr, patientName, QStringLiteral("mas.LastName"),
                     QStringLiteral("mas.FirstName"));
    input.log.AppendLog(QStringLiteral("Accession Requested: ") + accession.Text());
    input.log.AppendLog(QStringLiteral("Requesting HospNum: ") + patientId.Text());
    input.log.AppendLog(QStringLiteral("Requesting Name: ") + patientName.Text());
    return MakeSQL(keys.modality, WhereStr) + QStringLiteral(" order by trand desc ");
}

void TalvekSource::FillMatch(MatchFill& fill) const {
    fill.Head(true);
    TalvekRecord::Fill(fill, true);
    fill.Tail(true);
}

ListingPlan TalvekSource::Listing(const QString& modalityBox, SqlDialect) const {
    return {MakeSQL(modalityBox, QString()) + QStringLiteral(" order by trand desc "), true};
}

QString TalvekSource::ListingLine(const Recordset& record) const {
    return TalvekRecord::ListingLine(record);
}
