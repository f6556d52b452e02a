// Queries answered by several workers at once: the deadline of a query that
// waits for a worker or for a HIS that ignores the cancel, a stop, and the
// Study UID step of two modalities asking at once for the same order.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <atomic>
#include <thread>

#include "Fakes.h"
#include "platform/dicom/FindDispatcher.h"

namespace {

using namespace std::chrono_literals;

// A worker that holds each query until the test lets it go: the first one
// in a HIS call that ignores the cancel, the others in work of its own.
struct Holds {
    std::atomic<bool> releaseFirst{false};
    std::atomic<bool> releaseOthers{false};
    std::atomic<int> answered{0};
};

class HeldWorker : public QueryWorker {
public:
    explicit HeldWorker(Holds& holds) : m_holds(holds) {}
    void Answer(QueryConnection& query, const QueryBudget& budget) override {
        const bool first = ++m_holds.answered == 1;
        std::atomic<bool>& release = first ? m_holds.releaseFirst : m_holds.releaseOthers;
        if (first) budget.EnterHis();
        while (!release) std::this_thread::sleep_for(5ms);
        if (first) budget.LeaveHis();
        query.SendFinal();
    }
    bool OpenHis(const QueryBudget&) override { return true; }

private:
    Holds& m_holds;
};

std::shared_ptr<FindChannel> NewQuery() {
    return std::make_shared<FindChannel>(QStringLiteral("WORKLIST"), DicomDataset());
}

// Waits for the end the association would send.
FindChannel::Event EndOf(FindChannel& channel, std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        FindChannel::Event event = channel.Next(20ms);
        if (event.kind != FindChannel::Kind::Idle || std::chrono::steady_clock::now() > until)
            return event;
    }
}

}  // namespace

TEST(QueryWorkers, DeadlinesHoldForQueriesThatWaitAndForAHisThatIgnoresTheCancel) {
    FakeLog log;
    Holds holds;
    FindDispatcher queries(log);
    queries.Start({1, 1s, [] {}}, [&] { return std::make_unique<HeldWorker>(holds); });
    const auto held = NewQuery();
    queries.Dispatch(held);
    const auto waiting = NewQuery();
    queries.Dispatch(waiting);

    // The one worker is held: the second query fails at its deadline without running.
    const FindChannel::Event expired = EndOf(*waiting, 3000ms);
    EXPECT_EQ(expired.kind, FindChannel::Kind::Failure);
    EXPECT_EQ(expired.why, ErrorCommentFor(FailureKind::HisTimeout));
    EXPECT_TRUE(log.Text().contains("no query worker came free within the time-out of 1 s"));
    // The first one's HIS call does not come back: its modality is answered anyway.
    const FindChannel::Event givenUp = EndOf(*held, 3000ms);
    EXPECT_EQ(givenUp.kind, FindChannel::Kind::Failure);
    EXPECT_EQ(givenUp.why, ErrorCommentFor(FailureKind::HisTimeout));
    EXPECT_EQ(holds.answered, 1);

    // A worker busy outside the HIS (a long answer) is never given up.
    holds.releaseFirst = true;
    const auto busy = NewQuery();
    queries.Dispatch(busy);
    EXPECT_EQ(EndOf(*busy, 3000ms).kind, FindChannel::Kind::Idle);
    holds.releaseOthers = true;
    EXPECT_EQ(EndOf(*busy, 1000ms).kind, FindChannel::Kind::Success);

    // A stop ends what still waits and tells the budgets.
    holds.releaseOthers = false;
    const auto running = NewQuery();
    queries.Dispatch(running);
    const auto late = NewQuery();
    queries.Dispatch(late);
    queries.BeginStop();
    EXPECT_EQ(EndOf(*late, 1000ms).why, ErrorCommentFor(FailureKind::ServerStopping));
    const auto afterStop = NewQuery();
    queries.Dispatch(afterStop);
    EXPECT_EQ(EndOf(*afterStop, 1000ms).why, ErrorCommentFor(FailureKind::ServerStopping));
    holds.releaseOthers = true;
    EXPECT_TRUE(queries.Join(2000ms));
}

// The service manager's watchdog hears from the monitor while a worker can
// take a query, also while one answers within its time, and no more once
// every worker is held past its deadline by a HIS that ignores the cancel.
TEST(QueryWorkers, AliveOnlyWhileAWorkerCanTakeAQuery) {
    FakeLog log;
    Holds holds;
    std::atomic<int> alive{0};
    FindDispatcher queries(log);
    FindDispatcher::Options options{1, 1s, [] {}};
    options.aliveEvery = 50ms;
    options.onAlive = [&] { ++alive; };
    queries.Start(options, [&] { return std::make_unique<HeldWorker>(holds); });
    const auto waitFor = [&](int count) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (alive < count && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        return alive >= count;
    };
    ASSERT_TRUE(waitFor(3));

    const auto held = NewQuery();
    queries.Dispatch(held);
    const auto dispatched = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor(alive + 3)) << "no sign of life while the query is within its time";
    // Given up at its deadline and the grace after it: 2.5 s.
    EXPECT_EQ(EndOf(*held, 5000ms).kind, FindChannel::Kind::Failure);
    std::this_thread::sleep_until(dispatched + 2800ms);
    const int hung = alive;
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(alive, hung) << "alive while the only worker is held by the HIS";

    holds.releaseFirst = true;
    EXPECT_TRUE(waitFor(hung + 2)) << "no sign of life once the worker came back";
    queries.BeginStop();
    EXPECT_TRUE(queries.Join(2000ms));
}

// The lookup takes a while, as a busy HIS's does: without a lock per order
// both modalities would find no UID, make one each and write both.
TEST(QueryWorkers, TwoModalitiesAskingForTheSameOrderGetOneStudyUidAndOneUpdate) {
    FakeServices fake;
    fake.SetMode(ConnectionMode::Corvante);
    fake.switches.generateStudyUid = true;
    fake.Publish();
    QString stored;
    int updates = 0;
    fake.his.answer = [&](const QString& sql) -> Rows {
        if (sql.contains("tbRadiologyRequests")) {
            std::this_thread::sleep_for(50ms);
            return {{{"StudyUID", stored}}};
        }
        if (sql.contains(" update ")) {
            ++updates;
            stored = QRegularExpression("StudyUID = '([^']*)'").match(sql).captured(1);
            return {};
        }
        Row order{{"RequestNum", 7}, {"TranD", "2026-12-08 08:00:00"}, {"HN", "P7"},
                  {"MLN", "DOE"},     {"MFN", "JANE"},                {"MMN", ""},
                  {"MASBirthDate", "1980-02-03"}, {"MASS", "F"}};
        return {order};
    };
    std::vector<std::unique_ptr<QueryHandler>> workers;
    std::vector<FakeQueryConnection> modalities;
    for (int i = 0; i < 2; ++i) {
        workers.push_back(std::make_unique<QueryHandler>(std::make_unique<BorrowedHis>(fake.his),
                                                         HandlerShared(fake)));
        modalities.emplace_back(MakeRequest({Tags::StudyInstanceUid}, {}));
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&, i] {
            workers[i]->DicomViewer1_QueryRequest(modalities[i], TestBudget());
        });
    for (std::thread& thread : threads) thread.join();

    ASSERT_EQ(modalities[0].pending.size(), 1u);
    ASSERT_EQ(modalities[1].pending.size(), 1u);
    const QString first = modalities[0].pending[0].Item(Tags::StudyInstanceUid).Text();
    EXPECT_FALSE(first.isEmpty());
    EXPECT_EQ(modalities[1].pending[0].Item(Tags::StudyInstanceUid).Text(), first);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(stored, first);
}
