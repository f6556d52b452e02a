// Queries the server cannot answer with matches still get a final status, so
// no modality waits for a time-out, and the server goes on serving.

#include <gtest/gtest.h>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

TEST(QueryFailure, FailingStatementAnswersFailureAndTheServerRecovers) {
    ServerProcess server;
    // A HIS without the order table: every statement fails.
    ASSERT_TRUE(HisDatabase::Run(server.HisFile(), QStringLiteral("CREATE TABLE other (x);")));
    ASSERT_TRUE(server.Start());

    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
        ASSERT_TRUE(outcome.finished) << outcome.output.right(2000).toStdString();
        EXPECT_TRUE(outcome.matches.empty());
        EXPECT_TRUE(outcome.FailedUnableToProcess()) << outcome.output.right(2000).toStdString();
        // The kind of failure only: neither the database's message nor a
        // statement, table or column name reaches the peer.
        EXPECT_EQ(outcome.ErrorComment(), QStringLiteral("HIS query failed"));
        for (const char* detail : {"SQLite", "no such table", "xray_worklist", "SELECT", "select"})
            EXPECT_FALSE(outcome.output.contains(QLatin1String(detail))) << detail;
        ASSERT_TRUE(server.Running()) << server.Errors().toStdString();
    }
    EXPECT_TRUE(server.WaitForLog(
        QStringLiteral("Query Request error: [SQLite]no such table: xray_worklist")))
        << server.ActivityLog().toStdString();

    // Once the HIS is repaired, the re-opened connection answers normally.
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    const FindOutcome repaired = FindScu::Run(server.Port(), WorklistKeys());
    ASSERT_TRUE(repaired.finished);
    EXPECT_TRUE(repaired.Succeeded()) << repaired.output.right(2000).toStdString();
    EXPECT_EQ(repaired.PatientIds(), QStringList({"P1", "P2", "P3"}));
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_EQ(log.count(QStringLiteral("Query Request error: ")), 2) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("done.. ")), 3) << log.toStdString();
}

// Patient Root and Study Root queries reach the server but are not worklist
// queries: refused with a failure status, nothing sent from the HIS.
TEST(QueryFailure, QueryOutsideTheWorklistModelIsRefused) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());

    const FindOutcome study = FindScu::Run(
        server.Port(), {QStringLiteral("QueryRetrieveLevel=STUDY"), QStringLiteral("PatientName=")},
        {QStringLiteral("-S")});
    const FindOutcome patient =
        FindScu::Run(server.Port(),
                     {QStringLiteral("QueryRetrieveLevel=PATIENT"), QStringLiteral("PatientName=")},
                     {QStringLiteral("-P")});

    for (const FindOutcome* outcome : {&study, &patient}) {
        ASSERT_TRUE(outcome->finished) << outcome->output.right(2000).toStdString();
        EXPECT_TRUE(outcome->matches.empty());
        EXPECT_TRUE(outcome->FailedUnableToProcess()) << outcome->output.right(2000).toStdString();
        EXPECT_EQ(outcome->ErrorComment(), QStringLiteral("Not a worklist query"));
    }
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("Not worklist query")))
        << server.ActivityLog().toStdString();

    // The refusal leaves the worklist service as it was.
    const FindOutcome worklist = FindScu::Run(server.Port(), WorklistKeys());
    EXPECT_TRUE(worklist.Succeeded()) << worklist.output.right(2000).toStdString();
    EXPECT_EQ(worklist.matches.size(), 3u);
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_EQ(log.count(QStringLiteral("Not worklist query")), 2) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral(" looping")), 1) << log.toStdString();
}

// A step item is where the modality names itself; a request without one
// cannot be answered, but must still be told so.
TEST(QueryFailure, WorklistQueryWithoutStepItemAnswersFailure) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());

    const FindOutcome outcome =
        FindScu::Run(server.Port(), {QStringLiteral("PatientName="), QStringLiteral("PatientID=")});

    ASSERT_TRUE(outcome.finished) << outcome.output.right(2000).toStdString();
    EXPECT_TRUE(outcome.matches.empty());
    EXPECT_TRUE(outcome.FailedUnableToProcess()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.ErrorComment(),
              QStringLiteral("No Scheduled Procedure Step item in the query"));
    EXPECT_TRUE(EchoSucceeds(server.Port()));
    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(server.ActivityLog().contains(QStringLiteral("Query Request error: ")))
        << server.ActivityLog().toStdString();
}

// A HIS that cannot be reached: the operator reads why in the activity log at
// start and at every query, the query's failure line naming the cause, and
// every modality still gets a failure status.
TEST(QueryFailure, MissingDatabaseIsLoggedAndEveryQueryAnswered) {
    struct Case {
        const char* what;
        ServerSettings settings;
        QString startLine;
        QString cause;  // what the query's failure line says of the cause
    };
    ServerSettings noFile;
    noFile.noConnectionFiles = true;
    ServerSettings noFolder;
    noFolder.connectionString = QStringLiteral("Driver=SQLite3;Database=/nonexistent/his.db");
    ServerSettings noDriver;
    noDriver.connectionString = QStringLiteral("Driver=NoSuchDriver;Database=his");
    ServerSettings folderAsFile;
    folderAsFile.connectionString = QStringLiteral("Driver=SQLite3;Database=/");
    ServerSettings serverDown;
    serverDown.modeOption = QStringLiteral("optOrvelline");
    serverDown.connectionString = QStringLiteral(
        "Driver=MariaDB Unicode;Socket=/nonexistent/mariadb.sock;Database=his;User=root");
    const Case cases[] = {
        {"no connection-string file", noFile, QStringLiteral("CORVANTE.txt"),
         QStringLiteral(" (connection string: none).")},
        {"database folder missing", noFolder, QStringLiteral("Cannot Connect. "),
         QStringLiteral(": The HIS database file /nonexistent/his.db does not exist.")},
        {"driver not installed", noDriver, QStringLiteral("Cannot Connect. "),
         QStringLiteral(": [unixODBC]")},
        {"a folder for the database file", folderAsFile, QStringLiteral("Cannot Connect. "),
         QStringLiteral("(the HIS database file / cannot be opened: it is a directory)")},
        {"database server down", serverDown, QStringLiteral("Cannot Connect. "),
         QStringLiteral("Can't connect to local server through socket "
                        "'/nonexistent/mariadb.sock'")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server(c.settings);
        ASSERT_TRUE(server.Start());
        EXPECT_TRUE(server.WaitForLog(c.startLine)) << server.ActivityLog().toStdString();

        const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
        ASSERT_TRUE(outcome.finished) << outcome.output.right(2000).toStdString();
        EXPECT_TRUE(outcome.matches.empty());
        EXPECT_TRUE(outcome.FailedUnableToProcess()) << outcome.output.right(2000).toStdString();
        EXPECT_EQ(outcome.ErrorComment(), QStringLiteral("HIS not available"));
        EXPECT_TRUE(server.WaitForLog(QStringLiteral("Query Request error: ")))
            << server.ActivityLog().toStdString();
        const QStringList failures =
            server.ActivityLog().split(QLatin1Char('\n')).filter("Query Request error: ");
        ASSERT_FALSE(failures.isEmpty());
        EXPECT_TRUE(
            failures.front().contains("Query Request error: The HIS connection is not "
                                      "open"))
            << failures.front().toStdString();
        EXPECT_TRUE(failures.front().contains(c.cause)) << failures.front().toStdString();
        EXPECT_TRUE(EchoSucceeds(server.Port()));
        EXPECT_TRUE(server.Stop());
    }
}
