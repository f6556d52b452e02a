// Peers that connect and say nothing, say it one byte a second, or keep an
// association open without a word: none of them may hold up the others, and
// each is let go within its time limit.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <atomic>
#include <iostream>
#include <thread>
#include <vector>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/RawPeer.h"
#include "e2e/ServerProcess.h"

TEST(SlowPeer, SilentSocketsAndARequestSentByteByByteHoldUpNoOne) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(20)));
    ASSERT_TRUE(server.Start());

    QElapsedTimer connected;
    connected.start();
    std::vector<int> silent;
    for (int i = 0; i < 20; ++i) {
        silent.push_back(ConnectRaw(server.Port()));
        ASSERT_GE(silent.back(), 0);
    }
    const int dribbler = ConnectRaw(server.Port());
    ASSERT_GE(dribbler, 0);
    std::atomic<bool> done{false};
    std::thread dribble([&] {
        const std::string request = AssociateRequestPdu();
        for (size_t i = 0; i < request.size() && !done; ++i) {
            if (!SendAll(dribbler, request.substr(i, 1))) return;
            for (int tick = 0; tick < 100 && !done; ++tick)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    // A whole findscu run takes well under a second here (the figures show
    // it); the limit leaves room for a loaded machine, and a peer holding up
    // the others would cost at least the request time-out of 5 s.
    for (int query = 1; query <= 5; ++query) {
        SCOPED_TRACE(query);
        QElapsedTimer timer;
        timer.start();
        const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
        std::cout << "[ figures  ] query " << query
                  << " with 21 silent or slow peers: " << timer.elapsed() << " ms" << std::endl;
        EXPECT_LT(timer.elapsed(), 2500);
        EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        EXPECT_EQ(outcome.matches.size(), 20u);
    }
    // One deadline (5 s) for the whole request, however the bytes trickle in.
    for (const int socket : silent) EXPECT_TRUE(ClosedByPeerWithin(socket, 12000));
    EXPECT_TRUE(ClosedByPeerWithin(dribbler, 12000));
    EXPECT_GE(connected.elapsed(), 4500);
    EXPECT_LT(connected.elapsed(), 12000);
    done = true;
    dribble.join();
    for (const int socket : silent) ::close(socket);
    ::close(dribbler);
    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(server.ActivityLog().contains(
        QStringLiteral("Connections that ended without an association: 21")))
        << server.ActivityLog().toStdString();
}

TEST(SlowPeer, AnAssociationWithNothingToSayIsReleasedAfterTheIdleTime) {
    ServerProcess server(
        {.network = QStringLiteral("IdleAssociationTimeout=1\nDimseTimeout=soon\n")});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("idle association 1 s, DIMSE 60 s"), kLogWaitMs))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(server.ActivityLog().contains(QStringLiteral(
        "Network setting DimseTimeout=\"soon\" is not a number from 1 to 3600; using 60.")));

    ProbeAssociation probe(server.Port());
    ASSERT_TRUE(probe.Open());
    ASSERT_TRUE(probe.Echo());
    EXPECT_TRUE(probe.AwaitReleaseRequest(10));
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("no message for 1 s, released"), kLogWaitMs))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(server.Stop());
}

// Port scanners and broken load balancers open connections and never send:
// none of them may cost a modality a wait, and each is closed at the request
// deadline.
TEST(SlowPeer, TwoHundredSilentSocketsCostARealAssociationNoWait) {
    ServerProcess server({.network = QStringLiteral("AssociationRequestTimeout=2\n")});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start());
    QElapsedTimer connected;
    connected.start();
    std::vector<int> silent;
    for (int i = 0; i < 200; ++i) {
        silent.push_back(ConnectRaw(server.Port()));
        ASSERT_GE(silent.back(), 0) << "connection " << i;
    }

    QElapsedTimer timer;
    timer.start();
    ProbeAssociation probe(server.Port());
    ASSERT_TRUE(probe.Open());
    EXPECT_TRUE(probe.Echo());
    const qint64 waited = timer.elapsed();
    std::cout << "[ figures  ] association and C-ECHO with 200 silent sockets open: " << waited
              << " ms" << std::endl;
    EXPECT_LT(waited, 1000);
    EXPECT_TRUE(probe.Release());

    for (const int socket : silent) EXPECT_TRUE(ClosedByPeerWithin(socket, 6000));
    EXPECT_GE(connected.elapsed(), 1500);
    EXPECT_LT(connected.elapsed(), 6000);
    for (const int socket : silent) ::close(socket);
    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(server.ActivityLog().contains(
        QStringLiteral("Connections that ended without an association: 200")))
        << server.ActivityLog().toStdString();
}

// The DIMSE time-out bounds the whole receipt of a message from its first
// byte, not each read: a peer sending one byte every half second is cut
// after it, not after the idle time and the time-out together.
TEST(SlowPeer, AMessageSentByteByByteIsCutAtTheDimseTimeout) {
    ServerProcess server(
        {.network = QStringLiteral("IdleAssociationTimeout=20\nDimseTimeout=2\n")});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start());
    const int socket = ConnectRaw(server.Port());
    ASSERT_GE(socket, 0);
    ASSERT_TRUE(SendAll(socket, AssociateRequestPdu()));
    ASSERT_TRUE(server.WaitForLog(QStringLiteral("Association 1 from"), kLogWaitMs));

    QElapsedTimer timer;
    timer.start();
    std::atomic<bool> done{false};
    std::thread dribble([&] {
        const std::string echo = EchoRequestPdu();
        for (size_t i = 0; i < echo.size() && !done; ++i) {
            if (!SendAll(socket, echo.substr(i, 1))) return;
            for (int tick = 0; tick < 50 && !done; ++tick)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    EXPECT_TRUE(ClosedByPeerWithin(socket, 15000)) << server.ActivityLog().toStdString();
    const qint64 lasted = timer.elapsed();
    done = true;
    dribble.join();
    ::close(socket);
    // The time-out, then up to 2 s for the abort to reach the peer.
    EXPECT_GE(lasted, 1500);
    EXPECT_LT(lasted, 7000);
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("the peer took longer than 2 s"), kLogWaitMs))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(server.Stop());
}

// A modality that asks and then takes nothing of its answer: once the
// answer has gone into the connection's buffers nothing more comes from the
// peer either. When the idle time is up, the log says that it stopped
// reading (not that it sent no message), and the association is aborted.
TEST(SlowPeer, APeerThatStopsReadingIsLoggedAsSuch) {
    ServerSettings settings;
    // About a megabyte of answer: it fits in the server's send buffer, never
    // in the stalled peer's receive buffer.
    settings.resultQueryNumber = QStringLiteral("3000");
    settings.network = QStringLiteral("IdleAssociationTimeout=2\nDimseTimeout=2\n");
    ServerProcess server(settings);
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3000)));
    ASSERT_TRUE(server.Start());
    ProbeAssociation stalled(server.Port());
    ASSERT_TRUE(stalled.Open());
    stalled.ShrinkReceiveBuffer(8192);
    ASSERT_TRUE(stalled.SendFindOnly());
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("Association 1 ended after "), kLogWaitMs))
        << server.ActivityLog().right(1500).toStdString();
    EXPECT_TRUE(server.ActivityLog().contains(
        "the peer stopped reading: what was sent to it was not taken for 2 s"))
        << server.ActivityLog().right(1500).toStdString();
    EXPECT_TRUE(server.Stop());
}
