// The queue between a query worker's handler and an association's thread:
// bounded, and the time the handler waits there is the peer's, not the HIS's.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <thread>

#include "platform/dicom/FindChannel.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t kQueued = 8;

// A worker that takes matches (one every `pause`) until the final status.
class Worker {
public:
    Worker(FindChannel& channel, std::chrono::milliseconds pause)
        : m_thread([this, &channel, pause] {
              for (;;) {
                  const FindChannel::Event event = channel.Next(10ms);
                  if (event.kind == FindChannel::Kind::Match) {
                      ++taken;
                      std::this_thread::sleep_for(pause);
                  } else if (event.kind != FindChannel::Kind::Idle) {
                      last = event.kind;
                      return;
                  }
              }
          }) {}
    ~Worker() { m_thread.join(); }

    std::atomic<int> taken{0};
    std::atomic<FindChannel::Kind> last{FindChannel::Kind::Idle};

private:
    std::thread m_thread;
};

TEST(FindChannel, ASlowPeerHoldsABoundedQueue) {
    int sent = 0;
    FindChannel channel(QStringLiteral("WORKLIST"), DicomDataset(), {kQueued, 10s});
    auto worker = std::make_unique<Worker>(channel, 5ms);
    for (; sent < 60; ++sent) {
        // Queued, plus the one the worker may have taken but not yet counted.
        EXPECT_LE(sent - worker->taken, static_cast<int>(kQueued) + 1);
        channel.SendPending(MatchDataset());
    }
    channel.SendFinal();
    worker.reset();  // joins once the final status was taken
    EXPECT_FALSE(channel.Abandoned());
}

TEST(FindChannel, APeerThatTakesNothingIsAbandonedAfterTheStallTime) {
    FindChannel channel(QStringLiteral("WORKLIST"), DicomDataset(), {kQueued, 300ms});
    QElapsedTimer timer;
    timer.start();
    for (size_t i = 0; i <= kQueued; ++i) channel.SendPending(MatchDataset());
    EXPECT_GE(timer.elapsed(), 300);
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(channel.Abandoned());

    timer.restart();
    channel.SendPending(MatchDataset());  // falls away at once
    EXPECT_LT(timer.elapsed(), 100);
    // The worker still ends the C-FIND, with a failure: the answer is not whole.
    channel.SendFinal();
    EXPECT_EQ(channel.Next(0ms).kind, FindChannel::Kind::Idle);
    channel.HandlerReturned();
    EXPECT_EQ(channel.Next(0ms).kind, FindChannel::Kind::Failure);
}

TEST(FindChannel, CancelReleasesAWaitingHandler) {
    FindChannel channel(QStringLiteral("WORKLIST"), DicomDataset(), {kQueued, 10s});
    std::thread peer([&] {
        std::this_thread::sleep_for(100ms);
        channel.Cancel();
    });
    QElapsedTimer timer;
    timer.start();
    for (size_t i = 0; i <= kQueued; ++i) channel.SendPending(MatchDataset());
    peer.join();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(channel.Abandoned());
    EXPECT_TRUE(channel.Cancelled());
}

}  // namespace
