// The headless program under a service manager's notify protocol: the test
// is the manager, listening on the datagram socket that NOTIFY_SOCKET names.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <functional>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

// The manager's end of the protocol: every datagram received, in order.
class NotifySocket {
public:
    NotifySocket() {
        m_path = m_folder.filePath(QStringLiteral("notify")).toLocal8Bit();
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.constData(), sizeof address.sun_path - 1);
        m_bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }

    bool Bound() const { return m_bound; }
    QString Path() const { return QString::fromLocal8Bit(m_path); }
    // For a server that keeps its watchdog every 0.5 s.
    std::vector<std::pair<QString, QString>> Environment() const {
        return {{QStringLiteral("NOTIFY_SOCKET"), Path()},
                {QStringLiteral("WATCHDOG_USEC"), QStringLiteral("1000000")}};
    }

    // Waits until the messages received so far meet the condition.
    bool WaitUntil(const std::function<bool(const QStringList&)>& met, int timeoutMs = kLogWaitMs) {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            Receive();
            if (met(m_messages)) return true;
            if (waited.elapsed() > timeoutMs) return false;
            QThread::msleep(20);
        }
    }
    // Waits until one message meets the condition.
    bool WaitFor(const std::function<bool(const QString&)>& wanted, int timeoutMs = kLogWaitMs) {
        return WaitUntil(
            [&](const QStringList& all) { return std::any_of(all.begin(), all.end(), wanted); },
            timeoutMs);
    }
    bool WaitFor(const QString& message, int timeoutMs = kLogWaitMs) {
        return WaitFor([&](const QString& m) { return m == message; }, timeoutMs);
    }
    QStringList Messages() {
        Receive();
        return m_messages;
    }

private:
    void Receive() {
        char buffer[4096];
        for (;;) {
            const ssize_t size = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (size < 0) return;
            m_messages << QString::fromUtf8(buffer, static_cast<int>(size));
        }
    }

    QTemporaryDir m_folder;
    QByteArray m_path;
    int m_fd = -1;
    bool m_bound = false;
    QStringList m_messages;
};

}  // namespace

// Ready once the port listens, the status strip's text as STATUS (a query
// later counted in it), the watchdog kept, the status line on SIGUSR1, and
// STOPPING at the stop.
TEST(ServiceManager, ToldReadyStatusWatchdogAndStopping) {
    NotifySocket manager;
    ASSERT_TRUE(manager.Bound());
    ServerProcess server({.environment = manager.Environment()});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(2)));
    ASSERT_TRUE(server.Start());

    EXPECT_TRUE(manager.WaitFor(QStringLiteral("READY=1"))) << manager.Messages().join('\n').toStdString();
    const QString listening = QStringLiteral("STATUS=Listening on port %1 | ").arg(server.Port());
    EXPECT_TRUE(manager.WaitFor([&](const QString& m) { return m.startsWith(listening); }))
        << manager.Messages().join('\n').toStdString();
    EXPECT_TRUE(manager.WaitUntil(
        [](const QStringList& all) { return all.count(QStringLiteral("WATCHDOG=1")) >= 2; }))
        << manager.Messages().join('\n').toStdString();

    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
    ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_TRUE(manager.WaitFor([](const QString& m) {
        return m.startsWith("STATUS=") &&
               m.contains(" | Today: 1 query answered, 0 failed | HIS: connected");
    })) << manager.Messages().join('\n').toStdString();
    EXPECT_EQ(manager.Messages().count(QStringLiteral("READY=1")), 1);

    ASSERT_EQ(::kill(static_cast<pid_t>(server.Pid()), SIGUSR1), 0);
    EXPECT_TRUE(server.WaitForLog(
        QStringLiteral(" Status: Listening on port %1 | No association open | Today: 1 query "
                       "answered, 0 failed | HIS: connected")
            .arg(server.Port())))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(server.Running());

    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(manager.WaitFor(QStringLiteral("STOPPING=1"), 1000));
}

// A port that cannot be opened is never reported ready: the manager's
// status says why, and its start time-out does the rest.
TEST(ServiceManager, NoReadyWhenThePortCannotBeOpened) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    NotifySocket manager;
    ASSERT_TRUE(manager.Bound());
    ServerProcess server({.port = occupant.serverPort(), .environment = manager.Environment()});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start(/*expectListening=*/false));

    const QString why = QStringLiteral("STATUS=Not listening: Cannot listen on port %1: ")
                            .arg(occupant.serverPort());
    EXPECT_TRUE(manager.WaitFor([&](const QString& m) { return m.startsWith(why); }))
        << manager.Messages().join('\n').toStdString();
    EXPECT_FALSE(manager.WaitFor(QStringLiteral("READY=1"), 1500));
    EXPECT_TRUE(server.Stop());
    EXPECT_FALSE(manager.Messages().contains(QStringLiteral("READY=1")));
}
