// ORVELLINE mode over a SQLite "worksheet" table: the query keys narrow the
// statement, the newest 50 open orders come back first.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

const char* kWorksheet =
    "CREATE TABLE worksheet (qnumber TEXT, patient_id TEXT, patient_fname TEXT, "
    "patient_mname TEXT, patient_lname TEXT, gender TEXT, birthdate TEXT, doctor_id TEXT, "
    "doctor_lname TEXT, doctor_fname TEXT, doctor_mname TEXT, modality TEXT, item_code TEXT, "
    "study_desc TEXT, Result TEXT, Status INTEGER, TimeStamp TEXT, branch_code TEXT, "
    "remarks TEXT);";

QString Row(int n, const QString& lastName, const QString& branch, int status = 0) {
    return QStringLiteral(
               "INSERT INTO worksheet VALUES ('Q%1', 'P%1', 'ANA', NULL, '%2', 'F', "
               "'1980-01-02', 'D1', 'REYES', 'JOSE', '', 'CR', 'X%1', 'CHEST PA', '', %3, "
               "'2026-12-%4 %5:00:00', '%6', '');")
        .arg(n)
        .arg(QString(lastName).replace("'", "''"))
        .arg(status)
        .arg(1 + n / 24, 2, 10, QLatin1Char('0'))
        .arg(n % 24, 2, 10, QLatin1Char('0'))
        .arg(branch);
}

class OrvellineQuery : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ServerProcess>(
            ServerSettings{{}, {}, QStringLiteral("optOrvelline"), {}, QStringLiteral("MAIN*")});
        QString sql = QString::fromLatin1(kWorksheet);
        for (int n = 1; n <= 60; ++n) sql += Row(n, QStringLiteral("SANTOS"), "MAIN1");
        sql += Row(61, QStringLiteral("O'BRIEN"), "MAIN2");
        sql += Row(62, QStringLiteral("OTHER"), "NORTH");
        sql += Row(63, QStringLiteral("DONE"), "MAIN1", 1);
        s_ready = HisDatabase::Run(s_server->HisFile(), sql) && s_server->Start();
    }
    static void TearDownTestSuite() {
        if (s_ready) EXPECT_TRUE(s_server->Stop());
        s_server.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_ready) << "the server did not start"; }

    static inline std::unique_ptr<ServerProcess> s_server;
    static inline bool s_ready = false;
};

}  // namespace

TEST_F(OrvellineQuery, NewestFiftyOpenOrdersOfTheInstitution) {
    const FindOutcome all = FindScu::Run(s_server->Port(), WorklistKeys());
    ASSERT_TRUE(all.Succeeded()) << all.output.right(2000).toStdString();
    const QStringList ids = all.PatientIds();
    ASSERT_EQ(ids.size(), 50);
    EXPECT_EQ(ids.front(), "P61");
    EXPECT_FALSE(ids.contains("P62"));  // another branch
    EXPECT_FALSE(ids.contains("P63"));  // done
}

TEST_F(OrvellineQuery, KeysNarrowTheStatementAndQuotesAreMatched) {
    const FindOutcome quoted =
        FindScu::Run(s_server->Port(), WorklistKeys({QStringLiteral("PatientName=O'BRIEN^ANA")}));
    ASSERT_TRUE(quoted.Succeeded()) << quoted.output.right(2000).toStdString();
    EXPECT_EQ(quoted.PatientIds(), QStringList({"P61"}));

    const FindOutcome byDate = FindScu::Run(
        s_server->Port(),
        {QStringLiteral("PatientID="),
         QStringLiteral("ScheduledProcedureStepSequence[0].Modality=CR"),
         QStringLiteral("ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartDate=20261201"),
         QStringLiteral("ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartTime=0300-0530"),
         QStringLiteral("StudyDescription=")});
    ASSERT_TRUE(byDate.Succeeded()) << byDate.output.right(2000).toStdString();
    EXPECT_EQ(byDate.PatientIds(), QStringList({"P5", "P4", "P3"}));
    DcmDataset& match = *byDate.matches[0]->getDataset();
    EXPECT_EQ(Value(match, DCM_StudyDescription), QByteArray("CHEST PA"));
    DcmItem* step = StepItem(match);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(Value(*step, DCM_ScheduledProcedureStepStartDate), QByteArray("20261201"));
    EXPECT_EQ(Value(*step, DCM_ScheduledProcedureStepStartTime), QByteArray("050000"));
}
