#include "worklist/pelta/PeltaSource.h"

#include "worklist/ConditionBuilders.h"
#include "worklist/MatchFill.h"
#include "worklist/SqlText.h"
#include "worklist/Tags.h"
#include "worklist/talvek/TalvekRecord.h"

QString PeltaSource::BaseStatement(SqlDialect dialect) const {
    const QString doctor =
        SqlConcat({QStringLiteral("DOC.lastname"), QStringLiteral("','"),
                   QStringLiteral("DOC.firstname"), QStringLiteral("' '"),
                   QStringLiteral("DOC.middlename")},
                  dialect);
    return QStringLiteral(
               "select top 10 ORD.dodate as TranD,ORD.Hpercode as HN,patlast as MLN,patfirst as "
               "MFN,patmiddle as MMN,prikey as IDN,") +
           " ORD.enccode as Encounter,patbdate as MASBirthDate,patsex as MASS," +
           " ORD.proccode as ProcCode,procdesc as ProcDesc," + " " + doctor + " as DOCNAME " +
           " ,RequestNum" + " from PELTA.dbo.hdocOrd as ORD" +
           " left outer join PELTA.dbo.hperson as PER" + " on PER.hpercode = ORD.hpercode" +
           " left outer join PELTA.dbo.henctr as ENC" + " on ORD.enccode = ENC.enccode" +
           " left outer join PELTA.dbo.hprocm as PROCD" + " on ORD.proccode = PROCD.proccode" +
           " left outer join PELTA.dbo.hprovider as PROVIDER" +
           " on ORD.licno = PROVIDER.licno " + "  left outer join  PELTA.dbo.hpersonal as DOC " +
           " on PROVIDER.employeeid = DOC.employeeid " + " where 1=1  ";
}

QString PeltaSource::Statement(const StatementInput& input) const {
    const RequestKeys& keys = input.keys;
    QString sql = BaseStatement(input.dialect);
    const QString upper = keys.modality.toUpper();
    if (upper == "MG" || upper == "CR" || upper == "DR" || upper.isEmpty())
        sql += QStringLiteral(" and ORD.proccode like 'RAD%'");
    else if (upper == "US")
        sql += QStringLiteral(" and ORD.proccode like 'ULTRA%'");
    else
        sql.clear();
    const DicomAttribute patientId = keys.request.Item(Tags::PatientId);
    if (!patientId.Text().isEmpty()) {
        AddListCondition(sql, patientId, QStringLiteral("ORD.Hpercode"), input.dialect);
        return sql;
    }
    AddLinkedDateTimeCondition(sql, keys.requestStep.Item(Tags::StepStartDate),
                               keys.requestStep.Item(Tags::StepStartTime),
                               QStringLiteral("ORD.dodate"), input.dialect);
    AddNameCondition(sql, keys.request.Item(Tags::PatientName), QStringLiteral("patlast"),
                     QStringLiteral("patFirst"), input.dialect);
    return sql;
}

void PeltaSource::FillMatch(MatchFill& fill) const {
    fill.Head(true);
    TalvekRecord::Fill(fill, false);
    fill.Tail(true);
}

ListingPlan PeltaSource::Listing(const QString&, SqlDialect dialect) const {
    return {BaseStatement(dialect), false};
}

QString PeltaSource::ListingLine(const Recordset& record) const {
    return TalvekRecord::ListingLine(record);
}
