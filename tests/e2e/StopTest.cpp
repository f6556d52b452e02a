// SIGTERM ends the server within five seconds with status 0, whatever its
// peers are doing, and new connections are refused from the moment it is
// sent instead of hanging.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <atomic>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>

#include "e2e/HisDatabase.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/RawPeer.h"
#include "e2e/ServerProcess.h"

namespace {

constexpr int kOrders = 300;

// Peers that stay busy with the server until they are told to stop.
struct Peers {
    std::atomic<bool> done{false};
    std::atomic<int> echoes{0};
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<ProbeAssociation>> associations;
    std::vector<int> sockets;

    ~Peers() {
        done = true;
        for (auto& thread : threads) thread.join();
        for (const int socket : sockets) ::close(socket);
    }
};

void SilentAssociation(ServerProcess& server, Peers& peers) {
    const int port = server.Port();
    peers.associations.push_back(std::make_unique<ProbeAssociation>(port));
    EXPECT_TRUE(peers.associations.back()->Open());
}

// A modality that stops halfway through sending its query, one that asks
// for matches and reads none of them, and a peer sending its association
// request one byte a second.
void SlowPeers(ServerProcess& server, Peers& peers) {
    const int port = server.Port();
    for (int i = 0; i < 2; ++i) {
        peers.associations.push_back(std::make_unique<ProbeAssociation>(port));
        ASSERT_TRUE(peers.associations.back()->Open());
    }
    EXPECT_TRUE(peers.associations[0]->SendFindAndStall());
    EXPECT_TRUE(peers.associations[1]->SendFindOnly());
    const int socket = ConnectRaw(port);
    ASSERT_GE(socket, 0);
    peers.sockets.push_back(socket);
    peers.threads.emplace_back([socket, &done = peers.done] {
        const std::string request = AssociateRequestPdu();
        for (size_t i = 0; i < request.size() && !done; ++i) {
            if (!SendAll(socket, request.substr(i, 1))) return;
            for (int tick = 0; tick < 100 && !done; ++tick)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    // The stop begins once the handler has returned: it runs on the thread
    // that stops.
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("LAST%1,").arg(kOrders), 30000));
}

void EchoingPeer(ServerProcess& server, Peers& peers) {
    const int port = server.Port();
    peers.threads.emplace_back([port, &peers] {
        ProbeAssociation probe(port);
        if (!probe.Open()) return;
        while (!peers.done && probe.Echo()) ++peers.echoes;
    });
    while (peers.echoes < 10) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

TEST(Stop, EndsWithinFiveSecondsWhateverThePeersDo) {
    const struct {
        const char* name;
        std::function<void(ServerProcess&, Peers&)> arrange;
    } cases[] = {{"a silent association", SilentAssociation},
                 {"slow peers", SlowPeers},
                 {"a peer sending C-ECHO after C-ECHO", EchoingPeer}};
    for (const auto& peer : cases) {
        SCOPED_TRACE(peer.name);
        ServerProcess server;
        ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(kOrders)));
        ASSERT_TRUE(server.Start());
        Peers peers;
        peer.arrange(server, peers);
        ASSERT_TRUE(server.Running());

        QElapsedTimer timer;
        timer.start();
        server.SendStop();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (server.Running()) {
            const int late = ConnectRaw(server.Port());
            EXPECT_LT(late, 0) << "a connection was accepted after SIGTERM";
            if (late >= 0) ::close(late);
        }
        EXPECT_TRUE(server.AwaitExit());
        std::cout << "[ figures  ] stop with " << peer.name << ": " << timer.elapsed() << " ms"
                  << std::endl;
    }
}
