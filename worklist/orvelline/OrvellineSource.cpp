#include "worklist/orvelline/OrvellineSource.h"

#include "platform/MwlError.h"
#include "platform/his/FieldText.h"
#include "worklist/ConditionBuilders.h"
#include "worklist/ListingLine.h"
#include "worklist/MatchFill.h"
#include "worklist/SqlText.h"
#include "worklist/Tags.h"

// "+" adds numbers on this server; the dialect's concatenation joins texts,
// and a NULL component becomes an empty one instead of making the name NULL.
QString OrvellineSource::BaseStatement(SqlDialect dialect) const {
    QStringList doctor;
    for (const char* column : {"doctor_id", "doctor_lname", "doctor_fname", "doctor_mname"}) {
        if (!doctor.isEmpty()) doctor << QStringLiteral("'^'");
        doctor << QStringLiteral("COALESCE(%1, '')").arg(QLatin1String(column));
    }
    return QStringLiteral("SELECT  ") + "qnumber as RequestNum," +
           "patient_id as HN,  patient_fname as MFN , patient_mname as MMN, patient_lname as "
           "MLN,  gender as MASS, birthdate as MASBirthDate," +
           SqlConcat(doctor, dialect) + " as DocName," +
           "modality,item_code as ProcCode, study_desc as ProcDesc , Result, Status," +
           "TimeStamp as TranD, branch_code, remarks from worksheet where status=0 ";
}

QString OrvellineSource::Statement(const StatementInput& input) const {
    const RequestKeys& keys = input.keys;
    const SqlDialect dialect = input.dialect;
    ActivityLog& log = input.log;
    QString sql = BaseStatement(dialect);
    const DicomAttribute accession = keys.request.Item(Tags::AccessionNumber);
    log.AppendLog(QStringLiteral("Accession Requesteed: ") + accession.Text());
    AddListCondition(sql, accession, QStringLiteral("qnumber"), dialect);
    AddListCondition(sql, keys.request.Item(Tags::Modality), QStringLiteral("modality"), dialect);
    // The institution box, when filled, fixes the branch whatever the modality asks.
    const QString& institution = input.settings.switches.institutionBoxText;
    if (institution.isEmpty())
        AddListCondition(sql, keys.request.Item(Tags::InstitutionName),
                         QStringLiteral("branch_code"), dialect);
    else
        AddStringCondition(sql, institution, QStringLiteral("branch_code"), dialect);
    AddLinkedDateTimeCondition(sql, keys.requestStep.Item(Tags::StepStartDate),
                               keys.requestStep.Item(Tags::StepStartTime),
                               QStringLiteral("TimeStamp "), dialect);
    const DicomAttribute patientId = keys.request.Item(Tags::PatientId);
    log.AppendLog(QStringLiteral("ID Requesteed: ") + patientId.Text());
    AddListCondition(sql, patientId, QStringLiteral("patient_id"), dialect);
    const DicomAttribute patientName = keys.request.Item(Tags::PatientName);
    log.AppendLog(QStringLiteral("Requested Name: ") + patientName.Text());
    AddNameCondition(sql, patientName, QStringLiteral("patient_lname"),
                     QStringLiteral("patient_fname"), dialect);
    return sql + QStringLiteral(" order by trand desc LIMIT 50");
}

void OrvellineSource::FillMatch(MatchFill& fill) const {
    fill.Head(true);
    if (fill.run.settings.switches.trace) fill.run.log.Log(QStringLiteral("orvelline"));
    fill.Top(Tags::PatientBirthDate, fill.Field(QStringLiteral("MASBirthDate")));
    fill.Top(Tags::PatientSex, FieldText(fill.Field(QStringLiteral("MASS"))));
    const QString doctor = FieldText(fill.Field(QStringLiteral("DocName")));
    fill.Top(Tags::ReferringPhysicianName, doctor);
    fill.Step(Tags::RequestingPhysician, doctor);
    fill.Identifiers(FieldText(fill.Field(QStringLiteral("ProcCode"))));
    fill.Top(Tags::RequestedProcedureDescription,
             FieldText(fill.Field(QStringLiteral("ProcDesc"))));
    fill.OrderDates();
    fill.Tail(false);
}

// Each row says its own modality, which the statement matched the query's
// against; a statement of the SQL box ("Return this Query") may not have it.
QString OrvellineSource::StepModality(const RequestKeys& keys, const Recordset& record) const {
    QString own;
    IgnoringFailures([&] { own = FieldText(record.Field(QStringLiteral("modality"))).trimmed(); });
    if (!own.isEmpty()) return own.toUpper();
    const QString named = keys.StepLiteral(Tags::Modality);
    return named.isEmpty() ? QStringLiteral("OT") : named.toUpper();
}

ListingPlan OrvellineSource::Listing(const QString&, SqlDialect dialect) const {
    return {BaseStatement(dialect) + QStringLiteral(" LIMIT 50 "), true};
}

QString OrvellineSource::ListingLine(const Recordset& r) const {
    using namespace ::ListingLine;
    return Joined({DisplayField(r, "RequestNum"), DatePart(r), NameField(r), DisplayField(r, "HN"),
                   DisplayField(r, "MASBirthDate"), DisplayField(r, "MASS"),
                   DisplayField(r, "DocName"), DisplayField(r, "ProcCode"),
                   DisplayField(r, "ProcDesc"), DisplayField(r, "TranD"),
                   DisplayField(r, "branch_code")});
}
