#include "e2e/RecordingRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "e2e/RawPeer.h"

namespace {

constexpr int kPollMs = 100;
constexpr int kIdleLimitMs = 60000;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// Moves what is readable on `from` to `to`; false at the end of the stream.
bool Pump(int from, int to, QByteArray* keep) {
    char buffer[16384];
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got <= 0) return false;
    if (keep) keep->append(buffer, got);
    for (ssize_t sent = 0; sent < got;) {
        const ssize_t written = ::write(to, buffer + sent, static_cast<size_t>(got - sent));
        if (written <= 0) return false;
        sent += written;
    }
    return true;
}

quint32 BigEndian32(const QByteArray& bytes, qsizetype at) {
    quint32 value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<quint8>(bytes[at + i]);
    return value;
}

}  // namespace

RecordingRelay::RecordingRelay(int serverPort, bool serverOverIpv6)
    : m_serverPort(serverPort), m_serverOverIpv6(serverOverIpv6) {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 1) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

RecordingRelay::~RecordingRelay() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener >= 0) ::close(m_listener);
}

QByteArray RecordingRelay::ServerBytes() {
    if (m_thread.joinable()) m_thread.join();
    return m_fromServer;
}

void RecordingRelay::Serve() {
    pollfd waiting{m_listener, POLLIN, 0};
    int idleMs = 0;
    while (!m_stop && ::poll(&waiting, 1, kPollMs) == 0)
        if ((idleMs += kPollMs) > kIdleLimitMs) return;
    if (m_stop) return;
    const int peer = ::accept(m_listener, nullptr, nullptr);
    if (peer < 0) return;
    const int server = ConnectRaw(m_serverPort, m_serverOverIpv6);
    if (server >= 0) {
        pollfd ends[2] = {{peer, POLLIN, 0}, {server, POLLIN, 0}};
        idleMs = 0;
        while (!m_stop && idleMs < kIdleLimitMs) {
            const int ready = ::poll(ends, 2, kPollMs);
            if (ready == 0) {
                idleMs += kPollMs;
                continue;
            }
            idleMs = 0;
            if (ends[0].revents && !Pump(peer, server, nullptr)) break;
            if (ends[1].revents && !Pump(server, peer, &m_fromServer)) break;
        }
    }
    if (server >= 0) ::close(server);
    ::close(peer);
}

QList<RecordingRelay::Message> RecordingRelay::Messages(const QByteArray& stream) {
    QList<Message> messages;
    Message current;
    for (qsizetype at = 0; at + 6 <= stream.size();) {
        const quint8 type = static_cast<quint8>(stream[at]);
        const qsizetype end = at + 6 + BigEndian32(stream, at + 2);
        if (end > stream.size()) break;
        // P-DATA-TF: items of length, presentation context, control header
        // (bit 0 command, bit 1 last fragment) and the fragment.
        for (qsizetype item = at + 6; type == 0x04 && item + 6 <= end;) {
            const qsizetype itemEnd = item + 4 + BigEndian32(stream, item);
            const quint8 control = static_cast<quint8>(stream[item + 5]);
            current.command = (control & 0x01) != 0;
            current.bytes += stream.mid(item + 6, itemEnd - item - 6);
            if (control & 0x02) {
                messages << current;
                current = Message{};
            }
            item = itemEnd;
        }
        at = end;
    }
    return messages;
}
