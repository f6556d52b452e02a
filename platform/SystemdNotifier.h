#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>

// Tells the service manager how the service is doing, over the notify
// protocol: one datagram per message to the Unix socket that NOTIFY_SOCKET
// names. Without NOTIFY_SOCKET (the desktop, a terminal, the tests) every
// call does nothing. Any thread may call; nothing waits for the manager.
class SystemdNotifier {
public:
    // From NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID of this process.
    static SystemdNotifier FromEnvironment();
    SystemdNotifier() = default;
    SystemdNotifier(QByteArray socketPath, std::chrono::microseconds watchdog);

    bool Active() const { return !m_socketPath.isEmpty(); }
    // The manager's watchdog time; zero when it keeps no watchdog on us.
    std::chrono::microseconds WatchdogTime() const { return m_watchdog; }

    void Ready() const;
    // One line; line breaks become blanks.
    void Status(const QString& text) const;
    void Watchdog() const;
    void Stopping() const;

    // Sends the message as it stands; false when it could not be sent.
    bool Send(const QByteArray& message) const;

private:
    QByteArray m_socketPath;  // "@..." for the abstract namespace
    std::chrono::microseconds m_watchdog{0};
};
