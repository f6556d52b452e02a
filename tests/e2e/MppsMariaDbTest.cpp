// Modality Performed Procedure Steps on MariaDB: an ORVELLINE HIS whose site
// set its own CompletedStatement, with the journal in the same database; and
// two servers behind haproxy sharing that database, where a step begun on
// one and finished on the other is written back once, and one server gone
// leaves the other serving queries and steps.

#include <signal.h>
#include <sys/prctl.h>

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "e2e/DicomPeer.h"
#include "e2e/MariaDbServer.h"
#include "e2e/MppsClient.h"
#include "e2e/ServerProcess.h"

namespace {

const QString kCompleted = QStringLiteral("COMPLETED");

QString Uid(int n) { return QStringLiteral("1.2.826.0.1.3680043.10.8.%1").arg(n); }

// Orders Q1 to Q4 of patients P1 to P4, waiting (Status 0).
testing::AssertionResult CreateWorksheet(const MariaDbServer& database) {
    QFile schema(QStringLiteral(MWL_SOURCE_DIR "/examples/worksheet.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        return testing::AssertionFailure() << schema.errorString().toStdString();
    QString sql = QString::fromUtf8(schema.readAll());
    for (int n = 1; n <= 4; ++n)
        sql += QStringLiteral("INSERT INTO worksheet (qnumber, patient_id, patient_lname, modality, "
                              "Status, TimeStamp, branch_code) VALUES ('Q%1', 'P%1', 'SANTOS', "
                              "'CR', 0, '2026-12-01 0%1:00:00', 'MAIN1');\n")
                   .arg(n);
    sql += QStringLiteral("CREATE TABLE mpps_log (accession TEXT, requested TEXT, scheduled TEXT, "
                          "study TEXT, performed TEXT, station TEXT, started DATETIME, "
                          "ended DATETIME);\n");
    return database.Run(sql);
}

// ORVELLINE on the database, the journal there too; Status counts the
// COMPLETED write-backs, so "once" shows.
ServerSettings Orvelline(const MariaDbServer& database, const QString& moreMpps = {}) {
    return ServerSettings{
        .modeOption = QStringLiteral("optOrvelline"),
        .connectionString = database.ConnectionString(),
        .mpps = "Journal=\"" + database.ConnectionString() + "\"\n" +
                "CompletedStatement=\"update worksheet set Status=Status+1 where "
                "qnumber=:AccessionNumber\"\n" + moreMpps};
}

QStringList Listed(int port) {
    const FindOutcome outcome = FindScu::Run(port, WorklistKeys());
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    return outcome.PatientIds();
}

testing::AssertionResult Logged(const ServerProcess& server, const QString& line) {
    if (server.WaitForLog(line, kLogWaitMs)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no line \"" << line.toStdString() << "\" in:\n"
                                       << server.ActivityLog().right(3000).toStdString();
}

class MppsOnMariaDb : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_database = std::make_unique<MariaDbServer>();
        s_ready = s_database->Start();
        if (s_ready) s_ready = CreateWorksheet(*s_database);
    }
    static void TearDownTestSuite() {
        if (s_database && s_ready) EXPECT_TRUE(s_database->Stop());
        s_database.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(s_ready);
        ASSERT_TRUE(MppsClient::Available());
    }
    static QString Status(const QString& qnumber) {
        return s_database->Query("select Status from worksheet where qnumber='" + qnumber + "'");
    }

    static inline std::unique_ptr<MariaDbServer> s_database;
    static inline testing::AssertionResult s_ready = testing::AssertionFailure();
};

// haproxy in TCP mode on a loopback port, balancing between the servers one
// connection after the other, and leaving out a server that stopped answering.
class Haproxy {
public:
    Haproxy(const QList<int>& ports) : m_port(FreeLoopbackPort()) {
        QString config = QStringLiteral(
                             "global\n  maxconn 256\n"
                             "defaults\n  mode tcp\n  timeout connect 2s\n  timeout client 90s\n"
                             "  timeout server 90s\n  retries 3\n  option redispatch\n"
                             "listen dicom\n  bind 127.0.0.1:%1\n  balance roundrobin\n")
                             .arg(m_port);
        for (qsizetype i = 0; i < ports.size(); ++i)
            config += QStringLiteral("  server mwl%1 127.0.0.1:%2 check inter 300 fall 1 rise 1\n")
                          .arg(i + 1)
                          .arg(ports[i]);
        QFile file(m_folder.filePath(QStringLiteral("haproxy.cfg")));
        if (file.open(QIODevice::WriteOnly)) file.write(config.toUtf8());
    }
    ~Haproxy() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) m_process.kill();
        m_process.waitForFinished(5000);
    }
    testing::AssertionResult Start() {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(QStringLiteral("haproxy"),
                        {QStringLiteral("-db"), QStringLiteral("-f"),
                         m_folder.filePath(QStringLiteral("haproxy.cfg"))});
        if (!m_process.waitForStarted(10000))
            return testing::AssertionFailure() << "haproxy did not start";
        // Ready once it accepts a connection that reaches a server.
        QDeadlineTimer deadline(15000);
        while (!EchoSucceeds(m_port)) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return testing::AssertionFailure() << "haproxy did not serve: "
                                                   << m_process.readAll().toStdString();
            QThread::msleep(100);
        }
        return testing::AssertionSuccess();
    }
    int Port() const { return m_port; }

private:
    QTemporaryDir m_folder;
    int m_port;
    QProcess m_process;
};

}  // namespace

TEST_F(MppsOnMariaDb, CompletedOrderLeavesTheWorklistWithEveryParameterBound) {
    ServerProcess server(Orvelline(
        *s_database, "InProgressStatement=\"insert into mpps_log values (:AccessionNumber, "
                     ":RequestedProcedureID, :ScheduledProcedureStepID, :StudyInstanceUID, "
                     ":PerformedProcedureStepID, :PerformedStationAETitle, :StartDateTime, "
                     ":EndDateTime)\"\n"));
    ASSERT_TRUE(server.Start());
    MppsClient modality(server.Port());
    EXPECT_EQ(modality.Send(StepCall::Create(Uid(1), {"Q1"})).status, 0);
    EXPECT_TRUE(Logged(server, "MPPS write-back of step " + Uid(1) +
                                   " (IN PROGRESS): InProgressStatement changed 1 row(s)."));
    EXPECT_EQ(Statuses(modality.Send({StepCall::Set(Uid(1), kCompleted),
                                      StepCall::Create(Uid(2), {"Q2"}),
                                      StepCall::Set(Uid(2), QStringLiteral("DISCONTINUED"))})),
              (std::vector<int>{0, 0, 0}));
    EXPECT_TRUE(Logged(server, "MPPS write-back of step " + Uid(1) +
                                   " (COMPLETED): CompletedStatement changed 1 row(s)."));
    EXPECT_TRUE(Logged(server, "Performed step: accession Q2, patient DOE^JANE, station CT01, "
                               "DISCONTINUED, write-back done (no DiscontinuedStatement set)."));
    EXPECT_EQ(Status("Q1"), "1");
    EXPECT_EQ(Status("Q2"), "0");
    EXPECT_EQ(Listed(server.Port()), QStringList({"P4", "P3", "P2"}));
    EXPECT_EQ(s_database->Query("select accession, requested, started, ended from mpps_log "
                                "where accession='Q1'"),
              "Q1\tRP-Q1\t2026-12-03 09:15:00\tNULL");

    // The state rules, with the journal on this server.
    StepCall completed = StepCall::Create(Uid(3), {"Q3"});
    completed.status = kCompleted;
    const std::vector<StepReply> refused =
        modality.Send({StepCall::Create(Uid(1), {"Q1"}), StepCall::Set(Uid(9), kCompleted),
                       StepCall::Set(Uid(1), kCompleted), completed});
    EXPECT_EQ(Statuses(refused), (std::vector<int>{0x0111, 0x0112, 0x0110, 0x0106}));

    // Hostile values stay values: the log has them as sent, nothing else moves.
    StepCall hostile = StepCall::Create(Uid(4), {"Q3' or '1'='1"});
    hostile.items = {QJsonObject{{"RequestedProcedureID", "x'); drop table worksheet; --"},
                                 {"ScheduledProcedureStepID", "\\'; delete from mpps_log; --"}}};
    hostile.set = {{"PerformedStationAETitle", "AE' or 1=1 #"}};
    EXPECT_EQ(Statuses(modality.Send({hostile, StepCall::Set(Uid(4), kCompleted)})),
              (std::vector<int>{0, 0}));
    EXPECT_TRUE(Logged(server, "MPPS write-back of step " + Uid(4) +
                                   " (COMPLETED): CompletedStatement changed 0 row(s)."));
    EXPECT_EQ(s_database->Query("select requested, scheduled, station from mpps_log where "
                                "accession='Q3'' or ''1''=''1'"),
              "x'); drop table worksheet; --\t\\\\'; delete from mpps_log; --\tAE' or 1=1 #");
    EXPECT_EQ(s_database->Query("select count(*), sum(Status) from worksheet"), "4\t1");
    EXPECT_TRUE(server.Stop());
}

TEST_F(MppsOnMariaDb, TwoServersBehindHaproxyShareTheJournalAndServeOnWhenOneIsGone) {
    ServerProcess first(Orvelline(*s_database));
    ServerProcess second(Orvelline(*s_database));
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    Haproxy proxy({first.Port(), second.Port()});
    ASSERT_TRUE(proxy.Start());

    // One association each: round robin takes the N-SET to the other server.
    MppsClient modality(proxy.Port());
    EXPECT_EQ(Statuses(modality.Send({StepCall::Create(Uid(11), {"Q3"}),
                                      StepCall::Set(Uid(11), kCompleted)})),
              (std::vector<int>{0, 0}));
    const QString created = "MPPS N-CREATE from CT01: step " + Uid(11) + ", accession Q3";
    const QString set = "MPPS N-SET from CT01: step " + Uid(11) + ", accession Q3, COMPLETED";
    ASSERT_TRUE(first.WaitForLog(created, kLogWaitMs) || second.WaitForLog(created, kLogWaitMs));
    ServerProcess& setOn = first.ActivityLog().contains(created) ? second : first;
    EXPECT_TRUE(Logged(setOn, set));
    EXPECT_TRUE(Logged(setOn, "MPPS write-back of step " + Uid(11) +
                                  " (COMPLETED): CompletedStatement changed 1 row(s)."));
    QThread::msleep(1500);  // a second write-back would have come by now
    EXPECT_EQ(Status("Q3"), "1");

    // One server gone: haproxy leaves it out, the other serves everything.
    const long long firstPid = first.Pid();
    ASSERT_EQ(::kill(static_cast<pid_t>(firstPid), SIGKILL), 0);
    EXPECT_FALSE(first.KeepsRunningFor(5000));
    for (int query = 0; query < 3; ++query)
        EXPECT_FALSE(Listed(proxy.Port()).contains("P3")) << "query " << query;
    EXPECT_EQ(Statuses(modality.Send({StepCall::Create(Uid(12), {"Q4"}),
                                      StepCall::Set(Uid(12), kCompleted)})),
              (std::vector<int>{0, 0}));
    EXPECT_TRUE(Logged(second, "MPPS write-back of step " + Uid(12) +
                                   " (COMPLETED): CompletedStatement changed 1 row(s)."));
    EXPECT_EQ(Status("Q4"), "1");
    EXPECT_TRUE(second.Stop());
}
