// Statements of every database mode, checked as exact texts. The Study UID
// statements go to the TALVEK SQL Server, which cannot run here: FakeHis
// stands in for it and records what is sent.

#include <gtest/gtest.h>

#include "BaseSqlFor.h"
#include "Fakes.h"
#include "worklist/talvek/TalvekDepartments.h"
#include "worklist/talvek/TalvekStatement.h"

namespace {

struct Statements : FakeServices {
    QString Build(ConnectionMode mode, const DicomDataset& request) {
        const DicomDataset step = *request.SequenceItem(Tags::StepSequence);
        const RequestKeys keys{request, step, step.Item(Tags::Modality).Text()};
        const QuerySnapshot settings = Snapshot();
        const WorklistSource& source = SourceFor(mode);
        return source.Statement({keys, settings, source.NativeDialect(), log});
    }
};

const QString kLoose = " AND ( FALSE";  // never produced for single-valued keys

}  // namespace

TEST(TalvekBranch, AllKeysAbsentLeaveEachWhereClauseAlone) {
    Statements s;
    const DicomDataset request = MakeRequest({}, {}, "CR");
    EXPECT_EQ(s.Build(ConnectionMode::Talvek, request), MakeSQL("CR", "") + " order by trand desc ");
    EXPECT_EQ(s.log.Text(),
              "Accession Requested: \r\nRequesting HospNum: \r\nRequesting Name: \r\n");
}

TEST(TalvekBranch, EmptyDateAndTimeKeysGiveTheFullDefaultSpan) {
    Statements s;
    const DicomDataset request =
        MakeRequest({}, {Tags::StepStartDate, Tags::StepStartTime}, "US");
    const QString where =
        " AND XRR.Transdate>='1800-01-01 00:00' AND XRR.Transdate<='2999-01-01 23:59'";
    const QString sql = s.Build(ConnectionMode::Talvek, request);
    EXPECT_EQ(sql, MakeSQL("US", where) + " order by trand desc ");
    EXPECT_EQ(sql.count(where), 3);
    EXPECT_TRUE(sql.endsWith(" where 1=1   " + where + " order by trand desc "));
}

TEST(TalvekBranch, KeysInOrderAndTheirLogLines) {
    Statements s;
    DicomDataset request = MakeRequest({}, {}, "mg");
    PutRaw(request, Tags::AccessionNumber, "A1\\A2");
    PutRaw(request, Tags::PatientId, "100231");
    PutRaw(request, Tags::PatientName, "PE*^JOSE");
    PutRaw(request, Tags::StepStartDate, "20261208", true);
    const QString where =
        " AND ( FALSE OR RequestNum = 'A1' OR RequestNum = 'A2' )"
        " AND CONVERT(date, XRR.Transdate)>='2026-12-08'"
        " AND CONVERT(date, XRR.Transdate)<='2026-12-08'"
        " AND XRR.HospNum = '100231'"
        " AND mas.LastName like 'PE%' AND mas.FirstName = 'JOSE'";
    EXPECT_EQ(s.Build(ConnectionMode::Talvek, request), MakeSQL("mg", where) + " order by trand desc ");
    EXPECT_EQ(s.log.Text(), "Accession Requested: A1\\A2\r\nRequesting HospNum: 100231\r\n"
                            "Requesting Name: PE*^JOSE\r\n");
}

TEST(PeltaBranch, ModalityChoosesTheProcedureFilter) {
    Statements s;
    const QString base = BaseSqlFor(ConnectionMode::Pelta);
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, MakeRequest({}, {}, "cr")),
              base + " and ORD.proccode like 'RAD%'");
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, MakeRequest({}, {}, "")),
              base + " and ORD.proccode like 'RAD%'");
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, MakeRequest({}, {}, "US")),
              base + " and ORD.proccode like 'ULTRA%'");
    // DX is not among PELTA's radiology modalities: nothing is left to run.
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, MakeRequest({}, {}, "DX")), "");
    DicomDataset named = MakeRequest({}, {}, "DX");
    PutRaw(named, Tags::PatientName, "SMITH");
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, named), " AND patlast = 'SMITH'");
}

TEST(PeltaBranch, PatientIdIsTheOnlyKeyWhenGiven) {
    Statements s;
    const QString base = BaseSqlFor(ConnectionMode::Pelta) + " and ORD.proccode like 'RAD%'";
    DicomDataset universal = MakeRequest({}, {Tags::StepStartDate, Tags::StepStartTime}, "CR");
    PutRaw(universal, Tags::PatientId, "*");
    PutRaw(universal, Tags::PatientName, "SMITH^JOHN");
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, universal), base);

    DicomDataset full = MakeRequest({}, {}, "CR");
    PutRaw(full, Tags::PatientId, "H'1");
    PutRaw(full, Tags::PatientName, "SMITH^JOHN");
    PutRaw(full, Tags::StepStartDate, "20261208", true);
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, full), base + " AND ORD.Hpercode = 'H''1'");
}

TEST(PeltaBranch, WithoutPatientIdDateAndNameNarrow) {
    Statements s;
    DicomDataset request = MakeRequest({Tags::PatientId}, {}, "CR");
    PutRaw(request, Tags::PatientName, "SMITH^JOHN");
    PutRaw(request, Tags::StepStartDate, "20261201-20261208", true);
    PutRaw(request, Tags::StepStartTime, "0800-", true);
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, request),
              BaseSqlFor(ConnectionMode::Pelta) +
                  " and ORD.proccode like 'RAD%'"
                  " AND ORD.dodate>='2026-12-01 08:00' AND ORD.dodate<='2026-12-08 23:59'"
                  " AND patlast = 'SMITH' AND patFirst = 'JOHN'");
}

// The PELTA server speaks SQL Server, which cannot run here: the date and
// time parts are checked as exact texts.
TEST(PeltaBranch, ADateOrATimeAloneUsesTheServersDateAndTimeParts) {
    Statements s;
    const QString base = BaseSqlFor(ConnectionMode::Pelta) + " and ORD.proccode like 'RAD%'";
    DicomDataset date = MakeRequest({Tags::PatientId}, {}, "CR");
    PutRaw(date, Tags::StepStartDate, "20261201-20261208", true);
    const QString dates =
        " AND CONVERT(date, ORD.dodate)>='2026-12-01' AND CONVERT(date, ORD.dodate)<='2026-12-08'";
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, date), base + dates);
    DicomDataset time = MakeRequest({Tags::PatientId}, {}, "CR");
    PutRaw(time, Tags::StepStartTime, "0800-1230", true);
    const QString times =
        " AND CONVERT(time, ORD.dodate)>='08:00:00' AND CONVERT(time, ORD.dodate)<='12:30:00'";
    EXPECT_EQ(s.Build(ConnectionMode::Pelta, time), base + times);
}

TEST(OrvellineBranch, KeysLogLinesAndTail) {
    Statements s;
    DicomDataset request = MakeRequest({Tags::PatientId}, {}, "CR");
    PutRaw(request, Tags::AccessionNumber, "Q17");
    PutRaw(request, Tags::Modality, "CR");
    PutRaw(request, Tags::InstitutionName, "NORTH");
    PutRaw(request, Tags::PatientName, "DELA CRUZ^ANA");
    EXPECT_EQ(s.Build(ConnectionMode::Orvelline, request),
              BaseSqlFor(ConnectionMode::Orvelline) +
                  " AND qnumber = 'Q17' AND modality = 'CR' AND branch_code = 'NORTH'"
                  " AND patient_lname = 'DELA CRUZ' AND patient_fname = 'ANA'"
                  " order by trand desc LIMIT 50");
    EXPECT_EQ(s.log.Text(),
              "Accession Requesteed: Q17\r\nID Requesteed: \r\nRequested Name: DELA CRUZ^ANA\r\n");
}

TEST(OrvellineBranch, InstitutionBoxOverridesTheQuery) {
    Statements s;
    s.switches.institutionBoxText = "MAIN*";
    DicomDataset request = MakeRequest({}, {Tags::StepStartDate, Tags::StepStartTime}, "CR");
    PutRaw(request, Tags::InstitutionName, "NORTH");
    EXPECT_EQ(s.Build(ConnectionMode::Orvelline, request),
              BaseSqlFor(ConnectionMode::Orvelline) +
                  " AND branch_code like 'MAIN%'"
                  " AND TimeStamp >='1800-01-01 00:00' AND TimeStamp <='2999-01-01 23:59'"
                  " order by trand desc LIMIT 50");
}

// Backslash separates DICOM values, so a name key of two values reads as
// one text holding a backslash; on the MySQL server it must stay inside the
// literal.
TEST(OrvellineBranch, BackslashInAKeyCannotEndTheLiteral) {
    Statements s;
    DicomDataset request = MakeRequest({}, {}, "CR");
    PutRaw(request, Tags::PatientName, "X\\' OR 1=1 #");
    PutRaw(request, Tags::PatientId, "P1\\P2'");
    EXPECT_EQ(s.Build(ConnectionMode::Orvelline, request),
              BaseSqlFor(ConnectionMode::Orvelline) +
                  " AND ( FALSE OR patient_id = 'P1' OR patient_id = 'P2''' )"
                  " AND patient_lname = 'X\\\\'' OR 1=1 #'"
                  " order by trand desc LIMIT 50");
}

TEST(OrvellineBranch, ADateOrATimeAloneUsesTheMySqlDateAndTimeParts) {
    Statements s;
    DicomDataset request = MakeRequest({}, {}, "CR");
    PutRaw(request, Tags::StepStartDate, "20261208", true);
    PutRaw(request, Tags::PatientId, "P1");
    EXPECT_EQ(s.Build(ConnectionMode::Orvelline, request),
              BaseSqlFor(ConnectionMode::Orvelline) +
                  " AND DATE(TimeStamp )>='2026-12-08' AND DATE(TimeStamp )<='2026-12-08'"
                  " AND patient_id = 'P1' order by trand desc LIMIT 50");
}

TEST(OrvellineBranch, ModalityOnlyInsideTheStepItemDoesNotNarrow) {
    Statements s;
    const QString sql = s.Build(ConnectionMode::Orvelline, MakeRequest({}, {}, "CT"));
    EXPECT_EQ(sql, BaseSqlFor(ConnectionMode::Orvelline) + " order by trand desc LIMIT 50");
    EXPECT_FALSE(sql.contains(kLoose));
}

TEST(CorvanteBranch, SameStatementWhateverTheKeys) {
    Statements s;
    DicomDataset request = MakeRequest({}, {Tags::StepStartDate}, "MR");
    PutRaw(request, Tags::PatientName, "SMITH*");
    EXPECT_EQ(s.Build(ConnectionMode::Corvante, request), BaseSqlFor(ConnectionMode::Corvante));
    EXPECT_EQ(s.Build(ConnectionMode::Bramwoods, request), "");
}

namespace {

// The Study UID step of the database modes, for one record of a modality.
struct Uids : FakeServices {
    FakeRecordset record{Rows{{{"RequestNum", "R'7"}}}};

    QString StudyUidFor(const QString& modality) {
        const QuerySnapshot settings = Snapshot();
        const RequestKeys keys{DicomDataset(), DicomDataset(), modality};
        FakeQueryConnection connection{DicomDataset()};
        const QueryRun run{connection, keys, settings, log, resources};
        return SourceFor(ConnectionMode::Talvek).StudyUid(run, record);
    }
};

}  // namespace

TEST(StudyUid, FreshForEveryRecordWhenTheSwitchIsOff) {
    Uids u;
    EXPECT_EQ(u.StudyUidFor("CR"), "1.2.3.1");
    EXPECT_EQ(u.StudyUidFor("CR"), "1.2.3.2");
    EXPECT_TRUE(u.his.statements.isEmpty());
    EXPECT_EQ(u.log.Text(), "");
}

TEST(StudyUid, StoredUidIsReturnedWithoutWriting) {
    Uids u;
    u.switches.generateStudyUid = true;
    u.his.results.push_back(Rows{{{"StudyUID", "1.2.840.99"}}});
    EXPECT_EQ(u.StudyUidFor("mr"), "1.2.840.99");
    ASSERT_EQ(u.his.statements.size(), 1);
    EXPECT_EQ(u.his.statements[0],
              " select isnull(StudyUID,'') as StudyUID from Radiology..tbRadiologyRequests "
              "where RevenueID = 'RI' and Requestnum ='R''7'");
    EXPECT_EQ(u.log.Text(), "1.2.840.99\r\n");
}

TEST(StudyUid, EmptyStoredValueCreatesWritesAndLogsANewUid) {
    Uids u;
    u.switches.generateStudyUid = true;
    u.his.results.push_back(Rows{{{"StudyUID", ""}}});
    EXPECT_EQ(u.StudyUidFor("XA"), "1.2.3.1");
    ASSERT_EQ(u.his.statements.size(), 2);
    EXPECT_TRUE(u.his.statements[0].contains("where RevenueID = 'CQ' and"));
    EXPECT_EQ(u.his.statements[1],
              " update Clinical_Area..tbCathLabMaster set StudyUID = '1.2.3.1' where RequestNum "
              "= 'R''7' and RevenueID = 'CQ'");
    EXPECT_EQ(u.log.Text(), "1.2.3.1\r\n");
}

TEST(StudyUid, UpdateTablesFollowTheModality) {
    EXPECT_EQ(StudyUidUpdateStatement("us", "9", "5"),
              " update Radiology..tbULRequest set StudyUID = '9' where RequestNum = '5' and "
              "RevenueID = 'US'");
    EXPECT_EQ(StudyUidUpdateStatement("", "9", "5"),
              " update Radiology..tbXRRequest set StudyUID = '9' where RequestNum = '5' and "
              "RevenueID = 'XR'");
    EXPECT_EQ(StudyUidUpdateStatement("pt", "9", "5"),
              " update Radiology..tbRequestMaster set StudyUID = '9' where RequestNum = '5' and "
              "RevenueID = 'pt'");
    EXPECT_TRUE(StudyUidLookupStatement("p4", "5").contains("where RevenueID = 'P4' and"));
    EXPECT_TRUE(StudyUidLookupStatement("ivus", "5").contains("where RevenueID = 'ivus' and"));
}

TEST(StudyUid, NoRequestRowNeverReusesAnotherRecordsUid) {
    Uids u;
    u.switches.generateStudyUid = true;
    u.his.results.push_back(Rows{{{"StudyUID", "1.2.840.1"}}});
    u.his.results.push_back(Rows{});
    EXPECT_EQ(u.StudyUidFor("CR"), "1.2.840.1");
    const QString second = u.StudyUidFor("CR");
    EXPECT_NE(second, "1.2.840.1");
    EXPECT_EQ(u.his.statements.size(), 2);  // looked up, nothing written
}
