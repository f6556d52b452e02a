// Port scanners, health checks and load balancers open connections and close
// them at once; monitoring sends C-ECHO all day. None of it may crash the
// server or leave anything behind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QRegularExpression>
#include <iostream>
#include <memory>
#include <vector>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/RawPeer.h"
#include "e2e/ServerProcess.h"

namespace {

// The sum of the counts the server logged for connections that never became
// associations.
long long CountedWithoutAssociation(const QString& log) {
    static const QRegularExpression line(
        QStringLiteral(R"(Connections that ended without an association: (\d+))"));
    long long total = 0;
    for (const auto& match : line.globalMatch(log)) total += match.captured(1).toLongLong();
    return total;
}

}  // namespace

TEST(ConnectionFlood, ConnectionsClosedAtOnceLeaveTheServerAnswering) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(50)));
    ASSERT_TRUE(server.Start());

    for (int i = 0; i < 5000; ++i) {
        const int socket = ConnectRaw(server.Port());
        ASSERT_GE(socket, 0) << "connection " << i << " refused";
        if (i % 2)
            CloseWithReset(socket);
        else
            ::close(socket);
    }
    ASSERT_TRUE(server.Running()) << server.Errors().toStdString();
    const std::string request = AssociateRequestPdu();
    for (int i = 0; i < 2000; ++i) {
        const int socket = ConnectRaw(server.Port());
        ASSERT_GE(socket, 0) << "request " << i << " refused";
        EXPECT_TRUE(SendAll(socket, request));
        if (i % 2)
            CloseWithReset(socket);
        else
            ::close(socket);
    }

    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.matches.size(), 50u);
    ASSERT_TRUE(server.Stop());
    // Sockets that never became associations are counted, not logged one by one.
    const QString log = server.ActivityLog();
    const long long counted = CountedWithoutAssociation(log);
    const long long logged = log.count(QStringLiteral(" ended after "));
    EXPECT_GE(counted, 5000);
    EXPECT_EQ(counted + logged, 7001);
}

// Every association ending each way a peer can end it: release, A-ABORT,
// and a plain close of the connection.
TEST(ConnectionFlood, FiveThousandAssociationsLeaveNoThreadOrMappingBehind) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(1)));
    ASSERT_TRUE(server.Start());
    // Every worker serves once before the first figures, so that the
    // allocator's per-thread arenas are there already.
    {
        std::vector<std::unique_ptr<ProbeAssociation>> all;
        for (int i = 0; i < 64; ++i) {
            all.push_back(std::make_unique<ProbeAssociation>(server.Port()));
            ASSERT_TRUE(all.back()->Open()) << "association " << i;
            ASSERT_TRUE(all.back()->Echo());
        }
        for (auto& association : all) EXPECT_TRUE(association->Release());
    }
    ASSERT_TRUE(server.WaitForLog(QStringLiteral("Association 64 ended"), kLogWaitMs));
    const ProcessFigures before = FiguresOf(server.Pid());

    for (int i = 0; i < 5000; ++i) {
        ProbeAssociation probe(server.Port());
        ASSERT_TRUE(probe.Open()) << "association " << i;
        ASSERT_TRUE(probe.Echo()) << "association " << i;
        if (i % 3 == 0)
            ASSERT_TRUE(probe.Release());
        else if (i % 3 == 1)
            probe.Abort();
        else
            probe.Drop();
    }
    // A query starts a fresh activity log, so the association lines logged
    // so far do not count as memory the server keeps.
    EXPECT_TRUE(FindScu::Run(server.Port(), WorklistKeys()).Succeeded());
    ASSERT_TRUE(server.WaitForLog(QStringLiteral("Association 5065 ended"), kLogWaitMs));
    const ProcessFigures after = FiguresOf(server.Pid());
    std::cout << "[ figures  ] before: " << before.Describe().toStdString()
              << "; after 5,000 associations: " << after.Describe().toStdString() << std::endl;

    EXPECT_EQ(after.threads, before.threads);
    // The sanitizers' own memory grows as they go: ThreadSanitizer maps its
    // shadow and history, AddressSanitizer keeps freed memory in quarantine.
#ifndef __SANITIZE_THREAD__
    EXPECT_LE(after.mappings, before.mappings + 4);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LE(after.rssKb, before.rssKb + 4096);
#endif
#endif
    EXPECT_TRUE(server.Stop());
}
