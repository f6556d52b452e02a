// ORVELLINE mode over a SQLite "worksheet" table: the query keys narrow the
// statement, the newest 50 open orders come back first.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

// A query file whose patient's name is in the given character set, as a
// modality sends it (findscu passes the bytes on unchanged).
QString QueryFile(const QTemporaryDir& folder, const char* charset, const char* name) {
    DcmFileFormat file;
    DcmDataset* keys = file.getDataset();
    keys->putAndInsertString(DCM_SpecificCharacterSet, charset);
    keys->putAndInsertString(DCM_PatientName, name);
    keys->putAndInsertString(DCM_PatientID, "");
    DcmItem* step = nullptr;
    keys->findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    step->putAndInsertString(DCM_Modality, "CR");
    const QString path = folder.filePath(QString::fromLatin1(charset).replace('\\', '_') + ".dcm");
    file.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit);
    return path;
}

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
        // Older than the rest, so the newest fifty stay the same.
        sql += QStringLiteral(
            "INSERT INTO worksheet VALUES ('QRU', 'PRU', 'Иван', NULL, 'Иванов', 'M', "
            "'1970-01-02', 'D1', 'REYES', 'JOSE', '', 'CR', 'X1', 'CHEST PA', '', 0, "
            "'2026-11-01 08:00:00', 'MAIN1', '');"
            "INSERT INTO worksheet VALUES ('QJA', 'PJA', '太郎', NULL, '山田', 'M', "
            "'1970-01-02', 'D1', 'REYES', 'JOSE', '', 'CR', 'X1', 'CHEST PA', '', 0, "
            "'2026-11-01 09:00:00', 'MAIN1', '');");
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

// Names in the HIS are Unicode; a modality asks in its own character set.
// Matches go out in ISO 8859-1, with "?" for what it cannot hold.
TEST_F(OrvellineQuery, RequestsInOtherCharacterSetsMatchTheirNames) {
    QTemporaryDir folder;
    struct Case {
        const char* charset;
        const char* name;  // the request's bytes
        QString patientId;
        QByteArray returned;
    };
    const Case cases[] = {
        {"ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD", "PRU", "??????^????^"},
        {"\\ISO 2022 IR 87", "\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B", "PJA", "??^??^"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charset);
        FindScu scu(s_server->Port(), {});
        scu.SetQueryFile(QueryFile(folder, c.charset, c.name));
        scu.Start();
        const FindOutcome outcome = scu.Finish();
        ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        ASSERT_EQ(outcome.PatientIds(), QStringList{c.patientId});
        EXPECT_EQ(Value(*outcome.matches[0]->getDataset(), DCM_PatientName), c.returned);
    }
}
