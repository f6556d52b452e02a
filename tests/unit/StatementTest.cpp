#include <gtest/gtest.h>

#include "worklist/talvek/TalvekStatement.h"

namespace {

const QString kHead =
    "SELECT top 150 XRR.IDNum as IDN,XRR.Transdate as TranD,RequestNum ,RefNum,XRR.hospnum as HN, "
    " DoctorName,isnull(MAS.FirstName,'')  as MFN,isnull(MAS.LastName,'') as MLN,"
    "isnull(MAS.MiddleName,'') as MMN, "
    " MAS.Birthdate as MASBirthDate, CAS.BirthDate as CASBirthDate,MAS.Sex as MASS,"
    "CAS.Sex as CASSex, code as PROCCODE,  DOC.Doctorid + '^' + DOC.LastName + '^' + "
    "Doc.FirstName + '^' + Doc.MiddleName  as  DOCNAME, ";
const QString kCommon =
    " left outer join patient_data.dbo.tbmaster MAS on XRR.HospNum = MAS.HospNum "
    " LEFT OUTER JOIN  Build_File.dbo.tbCoDoctor DOC ON XRR.RequestDoctorCode = DOC.Doctorid  "
    " left outer join patient_data.dbo.tbcashpatient CAS on XRR.HospNum = CAS.HospNum "
    " where not XRR.swfin in ('Y','C','R')   ";
const QString kOtherRevenue =
    " LEFT OUTER JOIN  Build_File.dbo.tbcootherrevenue  XrE ON XRR.Code = XrE.OtherRevenueID  ";
const QString kXraySource =
    " XrayExam as ProcDesc From Radiology.dbo.tbXRRequest XRR "
    " LEFT OUTER JOIN  Build_File.dbo.tbCoXrayExam XrE ON XRR.Code = XrE.XrayExamID  ";
const QString kWhere = " AND XRR.HospNum = '100231'";

QString Statement(const QString& source, const QString& revenue) {
    return kHead + source + kCommon + revenue + kWhere;
}

}  // namespace

TEST(TalvekStatement, XrayModalitiesInAnyCaseAndTheEmptyModality) {
    const QString expected = Statement(kXraySource, " and xrr.revenueid = 'XR'");
    for (const QString modality : {"mg", "MG", "CR", "DR", "DX", ""})
        EXPECT_EQ(MakeSQL(modality, kWhere), expected) << modality.toStdString();
}

TEST(TalvekStatement, EachDepartmentHasItsTableAndRevenueFilter) {
    EXPECT_EQ(MakeSQL("MR", kWhere),
              Statement(" OtherRevenue as ProcDesc From Radiology.dbo.tbMRIRequest XRR " +
                            kOtherRevenue,
                        " and xrr.revenueid in ('MI','RI')"));
    EXPECT_EQ(MakeSQL("CT", kWhere),
              Statement(" CTExam as ProcDesc From Radiology.dbo.tbCTRequest XRR   "
                        " LEFT OUTER JOIN  Build_File.dbo.tbCoCTExam XrE ON XRR.Code = "
                        "XrE.CTExamID  ",
                        " and xrr.revenueid = 'CT'"));
    const QString master =
        " OtherRevenue as ProcDesc From Radiology.dbo.tbRequestMaster  XRR " + kOtherRevenue;
    EXPECT_EQ(MakeSQL("PT", kWhere), Statement(master, " and xrr.revenueid = 'P4'"));
    EXPECT_EQ(MakeSQL("P4", kWhere), Statement(master, " and xrr.revenueid = 'P4'"));
    EXPECT_EQ(MakeSQL("IVUS", kWhere), Statement(master, " and xrr.revenueid = 'VU'"));
    EXPECT_EQ(MakeSQL("PG", kWhere),
              Statement(" OtherRevenue as ProcDesc From Radiology.dbo.tbOBULRequest  XRR " +
                            kOtherRevenue,
                        " and xrr.revenueid = 'PG'"));
}

TEST(TalvekStatement, CathLabComparesTheModalityAsReceived) {
    EXPECT_EQ(MakeSQL("cq", kWhere),
              Statement(" OtherRevenue as ProcDesc From Clinical_Area..tbCathLabMaster  XRR " +
                            kOtherRevenue,
                        " and xrr.revenueid = 'cq'"));
}

TEST(TalvekStatement, UnknownModalityLeavesNoSelectSoTheDatabaseRejectsIt) {
    EXPECT_EQ(MakeSQL("Xa'", ""), kCommon + " and xrr.revenueid = 'Xa'''");
}

TEST(TalvekStatement, UltrasoundListsThreeSourcesEachNarrowedByTheConditions) {
    const QString unionHead =
        " SELECT top 150  XRR.IDNum as IDN,XRR.Transdate as TranD,RequestNum,RefNum,"
        "XRR.hospnum as HN, ";
    const QString expected =
        Statement(" UltraExam as ProcDesc From Radiology.dbo.tbULRequest XRR   "
                  " LEFT OUTER JOIN  Build_File.dbo.tbCoUltraExam XrE ON XRR.Code = "
                  "XrE.UltraExamID  ",
                  " and xrr.revenueid = 'US'") +
        " UNION ALL " + unionHead + kHead.mid(kHead.indexOf(" DoctorName")) +
        " OtherRevenue as ProcDesc  From Radiology.dbo.tbOBULRequest XRR   " + kOtherRevenue +
        kCommon + " and xrr.revenueid = 'PG'" + kWhere + " UNION ALL " + unionHead +
        " doc.lastname,isnull(MAS.FirstName,'')  as MFN,isnull(MAS.LastName,'') as MLN,"
        "isnull(MAS.MiddleName,'') as MMN, "
        " MAS.Birthdate as MASBirthDate, CAS.BirthDate as CASBirthDate,MAS.Sex as MASS,"
        "CAS.Sex as CASSex, itemid as PROCCODE,  DOC.Doctorid + '^' + DOC.LastName + '^' + "
        "Doc.FirstName + '^' + Doc.MiddleName  as  DOCNAME, "
        " HsExam as ProcDesc  From CARDIO..tbHrtMaster XRR     "
        "  LEFT OUTER JOIN  Build_File.dbo.tbCoHsExam  XrE ON XRR.ItemID = XrE.HsExamID  "
        " left outer join patient_data.dbo.tbmaster MAS on XRR.HospNum = MAS.HospNum "
        " LEFT OUTER JOIN  Build_File.dbo.tbCoDoctor DOC ON XRR.DoctorID = DOC.Doctorid  "
        " left outer join patient_data.dbo.tbcashpatient CAS on XRR.HospNum = CAS.HospNum "
        " where 1=1   " +
        kWhere;
    EXPECT_EQ(MakeSQL("us", kWhere), expected);
    EXPECT_EQ(MakeSQL("US", kWhere).count(kWhere), 3);
}
