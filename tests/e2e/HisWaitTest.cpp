// A HIS that makes the service wait: a locked database, a server that is
// down, a modality that reads slowly. Every modality is answered within the
// query time-out, the others go on meanwhile, a stop is never lost and the
// connection is tried once per query, only for queries that reach the HIS.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <atomic>
#include <iostream>
#include <thread>
#include <vector>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/ServerProcess.h"

namespace {

constexpr int kTimeoutSeconds = 3;
// What a modality may wait beyond the time-out for its failure status.
constexpr int kGraceMs = 2000;

struct Timed {
    FindOutcome outcome;
    qint64 elapsedMs = 0;
};

// Modalities asking at once, each on a thread of its own.
std::vector<Timed> QueryAtOnce(int port, int modalities) {
    std::vector<Timed> results(static_cast<size_t>(modalities));
    std::vector<std::thread> threads;
    for (Timed& result : results)
        threads.emplace_back([&result, port] {
            QElapsedTimer timer;
            timer.start();
            result.outcome = FindScu::Run(port, WorklistKeys());
            result.elapsedMs = timer.elapsed();
        });
    for (std::thread& thread : threads) thread.join();
    return results;
}

ServerSettings WithTimeout() {
    ServerSettings settings;
    settings.queryTimeoutSeconds = kTimeoutSeconds;
    return settings;
}

}  // namespace

TEST(HisWait, ALockedDatabaseFailsEveryModalityWithinTheTimeOutAndServesOnceFree) {
    ServerProcess server(WithTimeout());
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());
    {
        SqliteLock lock(server.HisFile());
        ASSERT_TRUE(lock.Held());
        for (const Timed& modality : QueryAtOnce(server.Port(), 8)) {
            EXPECT_TRUE(modality.outcome.FailedUnableToProcess())
                << modality.outcome.output.right(2000).toStdString();
            EXPECT_EQ(modality.outcome.ErrorComment(), "HIS did not answer in time");
            EXPECT_LT(modality.elapsedMs, kTimeoutSeconds * 1000 + kGraceMs);
        }
        // The operator sees what the service waits for while it waits.
        EXPECT_TRUE(server.WaitForLog("waiting for the HIS: the statement has not answered for 2 s"))
            << server.ActivityLog().right(3000).toStdString();
    }
    for (const Timed& modality : QueryAtOnce(server.Port(), 8)) {
        EXPECT_TRUE(modality.outcome.Succeeded()) << modality.outcome.output.right(2000).toStdString();
        EXPECT_EQ(modality.outcome.PatientIds(), (QStringList{"P1", "P2", "P3"}));
    }
    EXPECT_TRUE(server.Stop());
}

// A stop that comes before the listener starts: it never starts, and the
// program ends at once with status 0.
TEST(HisWait, AStopDuringTheLoadEndsAtOnceAndNothingEverListens) {
    ServerProcess server(WithTimeout());
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    SqliteLock lock(server.HisFile());
    ASSERT_TRUE(lock.Held());
    ASSERT_TRUE(server.Launch());
    QElapsedTimer timer;
    timer.start();
    server.SendStop();
    EXPECT_TRUE(server.AwaitExit());
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(server.StandardError().contains("not listening"))
        << server.StandardError().toStdString();
    EXPECT_TRUE(server.ActivityLog().contains("Stopped before the service started."))
        << server.ActivityLog().toStdString();
}

// A modality with an 8 KB receive buffer that takes nothing of a 30,000-match
// answer: the stop gives it its two seconds, then ends the program.
TEST(HisWait, AStopDuringALongAnswerToASlowReaderEndsWithinThreeSeconds) {
    constexpr int kOrders = 30000;
    ServerSettings settings;
    settings.resultQueryNumber = QString::number(kOrders);
    ServerProcess server(settings);
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(kOrders)));
    ASSERT_TRUE(server.Start());
    ProbeAssociation slow(server.Port());
    ASSERT_TRUE(slow.Open());
    slow.ShrinkReceiveBuffer(8192);
    ASSERT_TRUE(slow.SendFindOnly());
    ASSERT_TRUE(server.WaitForLog(" Req# 1000 HN: ", kLogWaitMs))
        << server.ActivityLog().right(1500).toStdString();
    QElapsedTimer timer;
    timer.start();
    server.SendStop();
    EXPECT_TRUE(server.AwaitExit());
    EXPECT_LT(timer.elapsed(), 3000);
    std::cout << "[ figures  ] stop during a long answer: " << timer.elapsed() << " ms"
              << std::endl;
}

// A HIS server that is down costs one connection attempt per query that
// needs it; a query that fails before any SQL costs none.
TEST(HisWait, AHisThatIsDownIsTriedOncePerQueryAndOnlyByQueriesThatNeedIt) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();  // nothing listens there now
    ServerSettings settings = WithTimeout();
    // A mode whose statement reads the date keys.
    settings.modeOption = QStringLiteral("optOrvelline");
    settings.connectionString = QStringLiteral(
                                    "Driver=MariaDB Unicode;Server=127.0.0.1;Port=%1;"
                                    "Database=his;User=nobody")
                                    .arg(port);
    ServerProcess server(settings);
    ASSERT_TRUE(server.Start());
    const auto attempts = [&] { return server.ActivityLog().count("Cannot Connect. "); };
    // The load opens the first worker's connection.
    ASSERT_TRUE(server.WaitForLog("Cannot Connect. "));
    int before = attempts();
    for (int query = 1; query <= 3; ++query) {
        const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
        EXPECT_TRUE(outcome.FailedUnableToProcess()) << outcome.output.right(2000).toStdString();
        EXPECT_EQ(outcome.ErrorComment(), "HIS not available");
        ASSERT_TRUE(server.WaitForLog(QStringLiteral("Association %1 ended").arg(query)));
        EXPECT_EQ(attempts(), before + 1) << server.ActivityLog().right(2000).toStdString();
        before = attempts();
    }
    // No step item, and a date that is no date: refused before any SQL.
    const FindOutcome noStep =
        FindScu::Run(server.Port(), {QStringLiteral("PatientName=")});
    EXPECT_EQ(noStep.ErrorComment(), "No Scheduled Procedure Step item in the query")
        << server.ActivityLog().right(3000).toStdString();
    const FindOutcome badDate = FindScu::Run(
        server.Port(),
        WorklistKeys({QStringLiteral("ScheduledProcedureStepSequence[0]."
                                     "ScheduledProcedureStepStartDate=2026-1301")}));
    EXPECT_EQ(badDate.ErrorComment(), "Invalid date or time in the query");
    ASSERT_TRUE(server.WaitForLog("Association 5 ended"));
    EXPECT_EQ(attempts(), before) << server.ActivityLog().right(2000).toStdString();
    EXPECT_TRUE(server.Stop());
}
