#include "worklist/TalvekStatement.h"

#include <QStringList>
#include <optional>

#include "worklist/SqlText.h"

namespace {

const QString kHeadFirst = QStringLiteral(
    "SELECT top 150 XRR.IDNum as IDN,XRR.Transdate as TranD,RequestNum ,RefNum,XRR.hospnum as "
    "HN, ");
const QString kUnionHeadFirst = QStringLiteral(
    " SELECT top 150  XRR.IDNum as IDN,XRR.Transdate as TranD,RequestNum,RefNum,XRR.hospnum as "
    "HN, ");
const QString kHeadNames = QStringLiteral(
    " DoctorName,isnull(MAS.FirstName,'')  as MFN,isnull(MAS.LastName,'') as MLN,"
    "isnull(MAS.MiddleName,'') as MMN, ");
const QString kHeadDetails = QStringLiteral(
    " MAS.Birthdate as MASBirthDate, CAS.BirthDate as CASBirthDate,MAS.Sex as MASS,CAS.Sex as "
    "CASSex, code as PROCCODE,  DOC.Doctorid + '^' + DOC.LastName + '^' + Doc.FirstName + '^' + "
    "Doc.MiddleName  as  DOCNAME, ");
const QString kOtherRevenueJoin = QStringLiteral(
    " LEFT OUTER JOIN  Build_File.dbo.tbcootherrevenue  XrE ON XRR.Code = XrE.OtherRevenueID  ");
const QString kMasterJoin = QStringLiteral(
    " left outer join patient_data.dbo.tbmaster MAS on XRR.HospNum = MAS.HospNum ");
const QString kCashJoin = QStringLiteral(
    " left outer join patient_data.dbo.tbcashpatient CAS on XRR.HospNum = CAS.HospNum ");
const QString kCommonJoins =
    kMasterJoin +
    QStringLiteral(
        " LEFT OUTER JOIN  Build_File.dbo.tbCoDoctor DOC ON XRR.RequestDoctorCode = DOC.Doctorid  ") +
    kCashJoin + QStringLiteral(" where not XRR.swfin in ('Y','C','R')   ");

struct Source {
    QString table;
    QString codeJoin;
};

bool IsXray(const QString& upper) {
    return upper == "MG" || upper == "CR" || upper == "DR" || upper == "DX" || upper.isEmpty();
}

std::optional<Source> SourceFor(const QString& upper) {
    if (IsXray(upper))
        return Source{
            QStringLiteral(" XrayExam as ProcDesc From Radiology.dbo.tbXRRequest XRR "),
            QStringLiteral(
                " LEFT OUTER JOIN  Build_File.dbo.tbCoXrayExam XrE ON XRR.Code = XrE.XrayExamID  ")};
    if (upper == "MR")
        return Source{QStringLiteral(" OtherRevenue as ProcDesc From Radiology.dbo.tbMRIRequest XRR "),
                      kOtherRevenueJoin};
    if (upper == "US")
        return Source{
            QStringLiteral(" UltraExam as ProcDesc From Radiology.dbo.tbULRequest XRR   "),
            QStringLiteral(
                " LEFT OUTER JOIN  Build_File.dbo.tbCoUltraExam XrE ON XRR.Code = XrE.UltraExamID  ")};
    if (upper == "CT")
        return Source{
            QStringLiteral(" CTExam as ProcDesc From Radiology.dbo.tbCTRequest XRR   "),
            QStringLiteral(
                " LEFT OUTER JOIN  Build_File.dbo.tbCoCTExam XrE ON XRR.Code = XrE.CTExamID  ")};
    if (upper == "IVUS" || upper == "P4" || upper == "PT")
        return Source{
            QStringLiteral(" OtherRevenue as ProcDesc From Radiology.dbo.tbRequestMaster  XRR "),
            kOtherRevenueJoin};
    if (upper == "PG")
        return Source{QStringLiteral(" OtherRevenue as ProcDesc From Radiology.dbo.tbOBULRequest  XRR "),
                      kOtherRevenueJoin};
    if (upper == "CQ")
        return Source{
            QStringLiteral(" OtherRevenue as ProcDesc From Clinical_Area..tbCathLabMaster  XRR "),
            kOtherRevenueJoin};
    return std::nullopt;
}

QString RevenueFilter(const QString& upper, const QString& received) {
    if (IsXray(upper)) return QStringLiteral(" and xrr.revenueid = 'XR'");
    if (upper == "MR") return QStringLiteral(" and xrr.revenueid in ('MI','RI')");
    if (upper == "US") return QStringLiteral(" and xrr.revenueid = 'US'");
    if (upper == "CT") return QStringLiteral(" and xrr.revenueid = 'CT'");
    if (upper == "IVUS") return QStringLiteral(" and xrr.revenueid = 'VU'");
    if (upper == "P4" || upper == "PT") return QStringLiteral(" and xrr.revenueid = 'P4'");
    if (upper == "PG") return QStringLiteral(" and xrr.revenueid = 'PG'");
    return QStringLiteral(" and xrr.revenueid = '") + SqlLiteralText(received) + "'";
}

// The obstetric ultrasound requests and the heart examinations that an
// ultrasound worklist also lists.
QString UltrasoundUnion(const QString& WhereStr) {
    QString sql = QStringLiteral(" UNION ALL ") + kUnionHeadFirst + kHeadNames + kHeadDetails +
                  " OtherRevenue as ProcDesc  From Radiology.dbo.tbOBULRequest XRR   " +
                  kOtherRevenueJoin + kCommonJoins + " and xrr.revenueid = 'PG'" + WhereStr;
    sql += QStringLiteral(" UNION ALL ") + kUnionHeadFirst +
           " doc.lastname,isnull(MAS.FirstName,'')  as MFN,isnull(MAS.LastName,'') as MLN,"
           "isnull(MAS.MiddleName,'') as MMN, " +
           " MAS.Birthdate as MASBirthDate, CAS.BirthDate as CASBirthDate,MAS.Sex as MASS,CAS.Sex "
           "as CASSex, itemid as PROCCODE,  DOC.Doctorid + '^' + DOC.LastName + '^' + "
           "Doc.FirstName + '^' + Doc.MiddleName  as  DOCNAME, " +
           " HsExam as ProcDesc  From CARDIO..tbHrtMaster XRR     " +
           "  LEFT OUTER JOIN  Build_File.dbo.tbCoHsExam  XrE ON XRR.ItemID = XrE.HsExamID  " +
           kMasterJoin +
           " LEFT OUTER JOIN  Build_File.dbo.tbCoDoctor DOC ON XRR.DoctorID = DOC.Doctorid  " +
           kCashJoin + " where 1=1   " + WhereStr;
    return sql;
}

}  // namespace

QString MakeSQL(const QString& Modality, const QString& WhereStr) {
    const QString upper = Modality.toUpper();
    QString sql = kHeadFirst + kHeadNames + kHeadDetails;
    if (const auto source = SourceFor(upper))
        sql += source->table + source->codeJoin;
    else
        sql.clear();
    sql += kCommonJoins + RevenueFilter(upper, Modality) + WhereStr;
    if (upper == "US") sql += UltrasoundUnion(WhereStr);
    return sql;
}
