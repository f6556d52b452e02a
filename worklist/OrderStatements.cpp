#include "worklist/OrderStatements.h"

#include "worklist/ConditionBuilders.h"
#include "worklist/Tags.h"
#include "worklist/TalvekStatement.h"

QString OrderStatements::Build(const QString& mode, const QueryKeys& keys) {
    if (mode == Modes::Talvek) return Talvek(keys);
    if (mode == Modes::Pelta) return Pelta(keys);
    if (mode == Modes::Orvelline) return Orvelline(keys);
    // CORVANTE answers every open order; no key narrows it.
    if (mode == Modes::Corvante) return m_services.state.BaseSQL;
    return QString();
}

QString OrderStatements::Talvek(const QueryKeys& keys) {
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
    ActivityLog& log = m_services.log;
    log.AppendLog(QStringLiteral("Accession Requested: ") + accession.Text());
    log.AppendLog(QStringLiteral("Requesting HospNum: ") + patientId.Text());
    log.AppendLog(QStringLiteral("Requesting Name: ") + patientName.Text());
    return MakeSQL(keys.modality, WhereStr) + QStringLiteral(" order by trand desc ");
}

// PELTA keeps radiology and ultrasound procedures apart by code prefix; a
// patient ID, when given, is the only key that narrows the orders.
QString OrderStatements::Pelta(const QueryKeys& keys) {
    QString sql = m_services.state.BaseSQL;
    const QString upper = keys.modality.toUpper();
    if (upper == "MG" || upper == "CR" || upper == "DR" || upper.isEmpty())
        sql += QStringLiteral(" and ORD.proccode like 'RAD%'");
    else if (upper == "US")
        sql += QStringLiteral(" and ORD.proccode like 'ULTRA%'");
    else
        sql.clear();
    const DicomAttribute patientId = keys.request.Item(Tags::PatientId);
    if (!patientId.Text().isEmpty()) {
        AddListCondition(sql, patientId, QStringLiteral("ORD.Hpercode"));
        return sql;
    }
    AddLinkedDateTimeCondition(sql, keys.requestStep.Item(Tags::StepStartDate),
                               keys.requestStep.Item(Tags::StepStartTime),
                               QStringLiteral("ORD.dodate"));
    AddNameCondition(sql, keys.request.Item(Tags::PatientName), QStringLiteral("patlast"),
                     QStringLiteral("patFirst"));
    return sql;
}

QString OrderStatements::Orvelline(const QueryKeys& keys) {
    // The ORVELLINE server speaks MySQL (or MariaDB); TALVEK and PELTA keep
    // the builders' default, SQL Server.
    constexpr SqlDialect kDialect = SqlDialect::MySql;
    ActivityLog& log = m_services.log;
    QString sql = m_services.state.BaseSQL;
    const DicomAttribute accession = keys.request.Item(Tags::AccessionNumber);
    log.AppendLog(QStringLiteral("Accession Requesteed: ") + accession.Text());
    AddListCondition(sql, accession, QStringLiteral("qnumber"), kDialect);
    AddListCondition(sql, keys.request.Item(Tags::Modality), QStringLiteral("modality"), kDialect);
    // The institution box, when filled, fixes the branch whatever the modality asks.
    const QString institution = m_services.switches.InstitutionBoxText();
    if (institution.isEmpty())
        AddListCondition(sql, keys.request.Item(Tags::InstitutionName),
                         QStringLiteral("branch_code"), kDialect);
    else
        AddStringCondition(sql, institution, QStringLiteral("branch_code"), kDialect);
    AddLinkedDateTimeCondition(sql, keys.requestStep.Item(Tags::StepStartDate),
                               keys.requestStep.Item(Tags::StepStartTime),
                               QStringLiteral("TimeStamp "), kDialect);
    const DicomAttribute patientId = keys.request.Item(Tags::PatientId);
    log.AppendLog(QStringLiteral("ID Requesteed: ") + patientId.Text());
    AddListCondition(sql, patientId, QStringLiteral("patient_id"), kDialect);
    const DicomAttribute patientName = keys.request.Item(Tags::PatientName);
    log.AppendLog(QStringLiteral("Requested Name: ") + patientName.Text());
    AddNameCondition(sql, patientName, QStringLiteral("patient_lname"),
                     QStringLiteral("patient_fname"), kDialect);
    return sql + QStringLiteral(" order by trand desc LIMIT 50");
}
