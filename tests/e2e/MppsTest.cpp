// Modality Performed Procedure Steps from pynetdicom's MPPS client against
// the running server: the state rules and their statuses, the journal across
// a restart and when it cannot be written, and the write-back that takes a
// finished order off the worklist (a CORVANTE row, an order file) even when
// the HIS was down at the time, with every value bound as a parameter.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/MppsClient.h"
#include "e2e/ServerProcess.h"
#include "e2e/TestCertificates.h"
#include "worklist/SourceFor.h"

namespace {

const QString kCompleted = QStringLiteral("COMPLETED");
const QString kDiscontinued = QStringLiteral("DISCONTINUED");

QString Uid(int n) { return QStringLiteral("1.2.826.0.1.3680043.10.9.%1").arg(n); }

QString Done(const ServerProcess& server) {
    return HisDatabase::Query(server.HisFile(),
                              QStringLiteral("select worklistid from xray_worklist where is_done=1 "
                                             "order by worklistid"));
}

QStringList Listed(const ServerProcess& server) {
    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    return outcome.PatientIds();
}

class Mpps : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(MppsClient::Available()); }

    // A CORVANTE server over orders 1 to `orders`.
    testing::AssertionResult StartCorvante(ServerProcess& server, int orders) {
        if (auto created = HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(orders));
            !created)
            return created;
        return server.Start();
    }
    static testing::AssertionResult Logged(const ServerProcess& server, const QString& line) {
        if (server.WaitForLog(line, kLogWaitMs)) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "no line \"" << line.toStdString() << "\" in:\n"
                                           << server.ActivityLog().right(3000).toStdString();
    }
};

}  // namespace

TEST_F(Mpps, CompletedCorvanteOrderLeavesTheWorklistAndEveryStateRuleHasItsStatus) {
    ServerProcess server;
    ASSERT_TRUE(StartCorvante(server, 3));
    MppsClient modality(server.Port());
    const std::vector<StepReply> steps =
        modality.Send({StepCall::Create(Uid(1), {"1"}), StepCall::Set(Uid(1), kCompleted),
                       StepCall::Create(Uid(2), {"2"}), StepCall::Set(Uid(2), kDiscontinued)});
    EXPECT_EQ(Statuses(steps), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_TRUE(Logged(server, "MPPS N-CREATE from CT01: step " + Uid(1) +
                                   ", accession 1, IN PROGRESS, recorded."));
    EXPECT_TRUE(Logged(server, "MPPS N-SET from CT01: step " + Uid(1) +
                                   ", accession 1, COMPLETED, recorded."));
    EXPECT_TRUE(Logged(server, "Performed step: accession 1, patient DOE^JANE, station CT01, "
                               "COMPLETED, write-back done (CompletedStatement changed 1 row(s))."));
    EXPECT_TRUE(Logged(server, "Performed step: accession 2, patient DOE^JANE, station CT01, "
                               "DISCONTINUED, write-back done (no DiscontinuedStatement set)."));
    EXPECT_EQ(Done(server), "1");
    EXPECT_EQ(Listed(server), QStringList({"P2", "P3"}));
    // "Exams Done..." lists the finished order.
    const QString doneExams =
        *SourceFor(ConnectionMode::Corvante).DoneExamsStatement(SqlDialect::Sqlite);
    EXPECT_TRUE(HisDatabase::Query(server.HisFile(), doneExams).startsWith("1|"));

    StepCall created = StepCall::Create(Uid(4), {"3"});
    created.status = kCompleted;
    StepCall patient = StepCall::Set(Uid(3), QStringLiteral("IN PROGRESS"));
    patient.set = {{"PatientName", "OTHER^NAME"}, {"PatientID", "P9"}};
    const std::vector<StepReply> refused = modality.Send(
        {StepCall::Create(Uid(1), {"1"}), StepCall::Set(Uid(99), kCompleted),
         StepCall::Set(Uid(1), kDiscontinued), created, StepCall::Create(Uid(3), {"3"}), patient,
         StepCall::Set(Uid(3), QStringLiteral("FINISHED"))});
    EXPECT_EQ(Statuses(refused), (std::vector<int>{0x0111, 0x0112, 0x0110, 0x0106, 0, 0x0105,
                                                    0x0106}));
    ASSERT_EQ(refused.size(), 7u);
    EXPECT_EQ(refused[2].errorId, 0xA710);
    EXPECT_EQ(refused[2].errorComment, "Performed Procedure Step Object may no longer be updated");
    EXPECT_EQ(refused[5].attributeIds, QStringList({"00100010", "00100020"}));
    EXPECT_TRUE(Logged(server, "MPPS N-SET from CT01: step " + Uid(1) +
                                   " refused (0110): Performed Procedure Step Object may no "
                                   "longer be updated."));
    // Nothing refused changed the HIS; order 3 is being examined, still listed.
    EXPECT_EQ(Done(server), "1");
    EXPECT_EQ(Listed(server), QStringList({"P2", "P3"}));
    EXPECT_TRUE(server.Stop());
}

TEST_F(Mpps, StepsOutliveARestartAndAJournalThatCannotBeWrittenIsAFailure) {
    ServerProcess server;
    ASSERT_TRUE(StartCorvante(server, 2));
    MppsClient modality(server.Port());
    EXPECT_EQ(modality.Send(StepCall::Create(Uid(1), {"1"})).status, 0);
    ASSERT_TRUE(server.Stop());
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(modality.Send(StepCall::Set(Uid(1), kCompleted)).status, 0);
    EXPECT_TRUE(Logged(server, "write-back done (CompletedStatement changed 1 row(s))."));
    EXPECT_EQ(Done(server), "1");
    ASSERT_TRUE(server.Stop());

    // A journal in a folder that does not exist: nothing can be recorded, so
    // nothing is promised, and the worklist goes on.
    ServerProcess unwritable({.mpps = "Journal=\"Driver=SQLite3;Database=" +
                                      QDir::temp().filePath("no-such-folder/journal.db") + "\"\n"});
    ASSERT_TRUE(StartCorvante(unwritable, 2));
    const StepReply failed = MppsClient(unwritable.Port()).Send(StepCall::Create(Uid(2), {"2"}));
    EXPECT_EQ(failed.status, 0x0110);
    EXPECT_EQ(failed.errorComment, "Performed step could not be recorded");
    EXPECT_TRUE(Logged(unwritable, "MPPS N-CREATE from CT01: step " + Uid(2) +
                                       " not recorded, answered 0110: "));
    EXPECT_EQ(Listed(unwritable), QStringList({"P1", "P2"}));
    EXPECT_TRUE(unwritable.Stop());
}

// The HIS file is away while the step is COMPLETED: the modality is told
// success, the write-back stays pending and is done at the next message
// once the HIS is back; the retry interval does the same without a message.
TEST_F(Mpps, WriteBackWhileTheHisIsDownIsDoneOnceItIsBack) {
    for (const bool byInterval : {false, true}) {
        SCOPED_TRACE(byInterval ? "retried on the interval" : "retried at the next message");
        ServerProcess server(
            {.mpps = byInterval ? "RetryIntervalSeconds=1\n" : "RetryIntervalSeconds=3600\n"});
        ASSERT_TRUE(StartCorvante(server, 2));
        MppsClient modality(server.Port());
        EXPECT_EQ(modality.Send(StepCall::Create(Uid(1), {"1"})).status, 0);
        const QString away = server.HisFile() + ".away";
        ASSERT_TRUE(QFile::rename(server.HisFile(), away));
        EXPECT_EQ(modality.Send(StepCall::Set(Uid(1), kCompleted)).status, 0);
        EXPECT_TRUE(Logged(server, "MPPS write-back of step " + Uid(1) +
                                       " (COMPLETED) failed and stays pending: "));
        EXPECT_TRUE(Logged(server, "COMPLETED, write-back pending ("));
        ASSERT_TRUE(QFile::rename(away, server.HisFile()));
        if (!byInterval) EXPECT_EQ(modality.Send(StepCall::Create(Uid(2), {"2"})).status, 0);
        EXPECT_TRUE(Logged(server, "MPPS write-back of step " + Uid(1) +
                                       " (COMPLETED): CompletedStatement changed 1 row(s)."));
        EXPECT_EQ(Done(server), "1");
        EXPECT_EQ(Listed(server), QStringList({"P2"}));
        EXPECT_TRUE(server.Stop());
    }
}

// Hostile text in every value the statements are given: each arrives as the
// one value it is, and no other row or table changes.
TEST_F(Mpps, EveryParameterIsBoundAsAValueNeverSplicedIntoTheStatement) {
    ServerProcess server(
        {.mpps = "InProgressStatement=\"insert into mpps_log values (:AccessionNumber, "
                 ":RequestedProcedureID, :ScheduledProcedureStepID, :StudyInstanceUID, "
                 ":PerformedProcedureStepID, :PerformedStationAETitle, :StartDateTime, "
                 ":EndDateTime)\"\n"});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(HisDatabase::Run(server.HisFile(),
                                 "create table mpps_log (accession, requested, scheduled, study, "
                                 "performed, station, started, ended);"));
    ASSERT_TRUE(server.Start());
    StepCall hostile = StepCall::Create(Uid(1), {"1' or '1'='1"});
    hostile.items = {QJsonObject{{"RequestedProcedureID", "x'); drop table xray_worklist; --"},
                                 {"ScheduledProcedureStepID", "'; delete from mpps_log; --"},
                                 {"StudyInstanceUID", "1'||(select'x')||'"}}};
    hostile.set = {{"PerformedProcedureStepID", "\"; update xray_worklist set is_done=1; --"},
                   {"PerformedStationAETitle", "AE' or 1=1 --"},
                   {"PerformedProcedureStepStartDate", "2026') or ('1"},
                   {"PerformedProcedureStepStartTime", "09:15"}};
    MppsClient modality(server.Port());
    EXPECT_EQ(modality.Send(hostile).status, 0);
    EXPECT_TRUE(Logged(server, "(IN PROGRESS): InProgressStatement changed 1 row(s)."));
    EXPECT_EQ(modality.Send(StepCall::Set(Uid(1), kCompleted)).status, 0);
    EXPECT_TRUE(Logged(server, "(COMPLETED): CompletedStatement changed 0 row(s)."));
    EXPECT_EQ(HisDatabase::Query(server.HisFile(),
                                 "select accession, requested, scheduled, study, performed, "
                                 "station, quote(started), quote(ended) from mpps_log"),
              "1' or '1'='1|x'); drop table xray_worklist; --|'; delete from mpps_log; --|"
              "1'||(select'x')||'|\"; update xray_worklist set is_done=1; --|AE' or 1=1 "
              "--|NULL|NULL");
    EXPECT_EQ(HisDatabase::Query(server.HisFile(),
                                 "select count(*), sum(is_done) from xray_worklist"),
              "3|0");
    EXPECT_EQ(Listed(server), QStringList({"P1", "P2", "P3"}));
    EXPECT_TRUE(server.Stop());
}

TEST_F(Mpps, CompletedOrderFileMovesToTheDoneFolderAndDiscontinuedStays) {
    QTemporaryDir orders;
    for (const char* accession : {"BW1", "BW2", "BW3"}) {
        QFile file(orders.filePath(QStringLiteral("%1.HL7").arg(accession)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("BWH|||||||H") + accession + "||DELA CRUZ^ANA^||19800102|F|||||||" +
                   accession + "||CHEST PA||20261201\r\n");
    }
    ServerProcess server(
        {.modeOption = QStringLiteral("optBramwoods"), .hl7Folder = orders.path()});
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(Listed(server), QStringList({"HBW1", "HBW2", "HBW3"}));
    MppsClient modality(server.Port());
    EXPECT_EQ(Statuses(modality.Send({StepCall::Create(Uid(1), {"BW1"}),
                                      StepCall::Set(Uid(1), kCompleted),
                                      StepCall::Create(Uid(2), {"BW2"}),
                                      StepCall::Set(Uid(2), kDiscontinued)})),
              (std::vector<int>{0, 0, 0, 0}));
    const QString done = orders.filePath(QStringLiteral("done/"));
    EXPECT_TRUE(Logged(server, "MPPS write-back of step " + Uid(1) +
                                   " (COMPLETED): order file(s) BW1.HL7 moved to " + done + "."));
    EXPECT_TRUE(Logged(server, "MPPS write-back of step " + Uid(2) +
                                   " (DISCONTINUED): order files left in place."));
    EXPECT_TRUE(QFile::exists(done + "BW1.HL7"));
    EXPECT_FALSE(QFile::exists(orders.filePath("BW1.HL7")));
    EXPECT_EQ(Listed(server), QStringList({"HBW2", "HBW3"}));
    EXPECT_TRUE(server.Stop());
}

TEST_F(Mpps, OverTlsAndOnlyForAllowedCallingAeTitles) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Made()) << certificates.Problem().toStdString();
    const int tlsPort = FreeLoopbackPort();
    ServerProcess server(
        {.security = QStringLiteral("TlsPort=%1\nTlsCertificateFile=%2\nTlsPrivateKeyFile=%3\n"
                                    "TlsTrustedCertificates=%4\nTlsRequireClientCertificate=1\n"
                                    "AllowedCallingAETitles=CT01\n")
                         .arg(tlsPort)
                         .arg(certificates.Path("server.pem"), certificates.Path("server.key"),
                              certificates.Path("ca.pem"))});
    ASSERT_TRUE(StartCorvante(server, 2));
    MppsClient secure(tlsPort);
    secure.UseTls(certificates.Path("ca.pem"), certificates.Path("client.pem"),
                  certificates.Path("client.key"));
    EXPECT_EQ(Statuses(secure.Send({StepCall::Create(Uid(1), {"1"}),
                                    StepCall::Set(Uid(1), kCompleted)})),
              (std::vector<int>{0, 0}));
    EXPECT_TRUE(Logged(server, "calling AE CT01, called AE TALVEK, over TLS"));
    EXPECT_TRUE(Logged(server, "write-back done (CompletedStatement changed 1 row(s))."));

    const StepReply intruder =
        MppsClient(server.Port(), "INTRUDER").Send(StepCall::Create(Uid(2), {"2"}));
    EXPECT_FALSE(intruder.associated);
    EXPECT_TRUE(Logged(server, "Association refused from 127.0.0.1: calling AE INTRUDER, called "
                               "AE TALVEK; calling AE title not recognised"));
    EXPECT_EQ(Done(server), "1");
    EXPECT_TRUE(server.Stop());
}
