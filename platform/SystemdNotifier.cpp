#include "platform/SystemdNotifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

SystemdNotifier SystemdNotifier::FromEnvironment() {
    const QByteArray socketPath = qgetenv("NOTIFY_SOCKET");
    // A watchdog meant for another process (our parent's, say) is not ours.
    bool ours = true;
    if (qEnvironmentVariableIsSet("WATCHDOG_PID"))
        ours = qgetenv("WATCHDOG_PID").toLongLong() == static_cast<qint64>(::getpid());
    const qint64 usec = ours ? qgetenv("WATCHDOG_USEC").toLongLong() : 0;
    return SystemdNotifier(socketPath, std::chrono::microseconds(usec > 0 ? usec : 0));
}

SystemdNotifier::SystemdNotifier(QByteArray socketPath, std::chrono::microseconds watchdog)
    : m_socketPath(std::move(socketPath)), m_watchdog(watchdog) {
    if (m_socketPath.isEmpty()) m_watchdog = {};
}

void SystemdNotifier::Ready() const { Send("READY=1"); }

void SystemdNotifier::Status(const QString& text) const {
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    Send("STATUS=" + line.toUtf8());
}

void SystemdNotifier::Watchdog() const { Send("WATCHDOG=1"); }

void SystemdNotifier::Stopping() const { Send("STOPPING=1"); }

// A socket of its own per message: nothing is shared between the threads
// that call, and a manager that is slow to read never holds one up.
bool SystemdNotifier::Send(const QByteArray& message) const {
    if (!Active()) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(m_socketPath.size()) >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, m_socketPath.constData(), m_socketPath.size());
    // "@name" is a socket in the abstract namespace: a leading NUL byte.
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const ssize_t sent = ::sendto(fd, message.constData(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
    return sent == message.size();
}
