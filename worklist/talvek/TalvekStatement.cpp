#include "worklist/talvek/TalvekStatement.h"

#include "worklist/SqlText.h"
#include "worklist/talvek/TalvekDepartments.h"

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
const QString kMasterJoin = QStringLiteral(
    " left outer join patient_data.dbo.tbmaster MAS on XRR.HospNum = MAS.HospNum ");
const QString kCashJoin = QStringLiteral(
    " left outer join patient_data.dbo.tbcashpatient CAS on XRR.HospNum = CAS.HospNum ");
const QString kCommonJoins =
    kMasterJoin +
    QStringLiteral(
        " LEFT OUTER JOIN  Build_File.dbo.tbCoDoctor DOC ON XRR.RequestDoctorCode = DOC.Doctorid  ") +
    kCashJoin + QStringLiteral(" where not XRR.swfin in ('Y','C','R')   ");

QString RevenueFilter(const TalvekDepartment& department, const QString& received) {
    return department.revenueFilter.value_or(QStringLiteral(" and xrr.revenueid = '") +
                                             SqlLiteralText(received) + "'");
}

// The obstetric ultrasound requests and the heart examinations that an
// ultrasound worklist also lists.
QString UltrasoundUnion(const QString& WhereStr) {
    QString sql = QStringLiteral(" UNION ALL ") + kUnionHeadFirst + kHeadNames + kHeadDetails +
                  " OtherRevenue as ProcDesc  From Radiology.dbo.tbOBULRequest XRR   " +
                  TalvekDepartmentOf(QStringLiteral("PG")).codeJoin + kCommonJoins +
                  " and xrr.revenueid = 'PG'" + WhereStr;
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
    const TalvekDepartment& department = TalvekDepartmentOf(Modality);
    QString sql = kHeadFirst + kHeadNames + kHeadDetails;
    if (department.requestTable)
        sql += *department.requestTable + department.codeJoin;
    else
        sql.clear();
    sql += kCommonJoins + RevenueFilter(department, Modality) + WhereStr;
    if (Modality.toUpper() == "US") sql += UltrasoundUnion(WhereStr);
    return sql;
}
