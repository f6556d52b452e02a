// The status strip's model: what it says in each state, today's counts
// across midnight, and changes from other threads told once on its own.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <thread>

#include "Fakes.h"
#include "platform/ServiceStatus.h"

namespace {

using namespace std::chrono_literals;

TEST(ServiceStatus, SaysWhatTheServiceIsDoingNow) {
    FixedClock clock;  // 3 December 2026, 09:15:42
    ServiceStatus status(clock);
    EXPECT_EQ(status.Text(), "Not listening | No association open | Today: 0 queries answered, "
                             "0 failed | HIS: not connected");

    status.SetPorts(11112, 2762);
    status.AssociationOpened();
    status.AssociationOpened();
    status.AssociationClosed();
    status.QueryAnswered();
    status.QueryFailed();
    status.HisAnswered();
    EXPECT_EQ(status.Text(), "Listening on port 11112 and TLS port 2762 | 1 association open | "
                             "Today: 1 query answered, 1 failed | HIS: connected");

    // A HIS call still waiting outweighs the last outcome; the earliest wait
    // is the one shown, and the last failure returns once no call waits.
    status.HisFailed(ErrorCommentFor(FailureKind::HisQueryFailed));
    EXPECT_EQ(status.Current().his, ServiceStatus::His::Failing);
    EXPECT_TRUE(status.Text().endsWith("| HIS: failing (HIS query failed at 09:15:42)"));
    int first = 0;
    int second = 0;
    status.HisWaiting(&first, std::chrono::steady_clock::now() - 5s);
    status.HisWaiting(&second, std::chrono::steady_clock::now() - 2s);
    EXPECT_TRUE(status.Text().endsWith("| HIS: waiting since 09:15:37")) << status.Text().toStdString();
    status.HisWaitOver(&first);
    EXPECT_TRUE(status.Text().endsWith("| HIS: waiting since 09:15:40")) << status.Text().toStdString();
    status.HisWaitOver(&second);
    EXPECT_TRUE(status.Text().endsWith("| HIS: failing (HIS query failed at 09:15:42)"));

    // Steps show once the service takes them.
    EXPECT_TRUE(ServiceStatus::PartsOf(status.Current()).steps.isEmpty());
    status.ShowSteps();
    status.StepReceived();
    EXPECT_TRUE(status.Text().endsWith("| Steps received today: 1"));

    // The next day counts afresh, before anything happens that day, and an
    // older moment shows its date.
    clock.now = clock.now.addDays(1);
    const ServiceStatus::Snapshot tomorrow = status.Current();
    EXPECT_EQ(tomorrow.answeredToday + tomorrow.failedToday + tomorrow.stepsToday, 0);
    EXPECT_TRUE(ServiceStatus::PartsOf(tomorrow).his.contains(
        TextActivityLog::Stamp(clock.now.addDays(-1))));
    status.QueryAnswered();
    EXPECT_EQ(status.Current().answeredToday, 1);
    status.SetPorts(0, 104);
    status.HisExpected(false);
    EXPECT_EQ(ServiceStatus::PartsOf(status.Current()).ports, "Listening on TLS port 104");
    EXPECT_TRUE(status.Text().contains("| HIS: none (order files) |"));
}

// Every thread of the service records; the observers hear of a burst of
// changes once, on the status's own thread, and a change that changes
// nothing is no change.
TEST(ServiceStatus, ChangesFromAnyThreadAreToldOnItsOwnThread) {
    FixedClock clock;
    ServiceStatus status(clock);
    int told = 0;
    QObject::connect(&status, &ServiceStatus::Changed, [&] {
        EXPECT_EQ(QThread::currentThread(), status.thread());
        ++told;
    });
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) status.QueryAnswered();
        status.HisAnswered();
    });
    worker.join();
    const quint64 generation = status.Generation();
    EXPECT_EQ(generation, 1001u);
    status.HisAnswered();
    EXPECT_EQ(status.Generation(), generation);
    QCoreApplication::processEvents();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(status.Current().answeredToday, 1000);
}

}  // namespace
