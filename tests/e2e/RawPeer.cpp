#include "e2e/RawPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>

int ConnectRaw(int port, bool ipv6) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    address6.sin6_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        ipv6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0
             : ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (connected) return fd;
    ::close(fd);
    return -1;
}

void CloseWithReset(int socket) {
    const linger reset{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(socket);
}

bool SendAll(int socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t written =
            ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (written <= 0) return false;
        sent += static_cast<size_t>(written);
    }
    return true;
}

bool ClosedByPeerWithin(int socket, int timeoutMs) {
    pollfd watched{socket, POLLIN, 0};
    char sink[4096];
    for (;;) {
        if (::poll(&watched, 1, timeoutMs) <= 0) return false;
        const ssize_t received = ::recv(socket, sink, sizeof sink, MSG_DONTWAIT);
        if (received <= 0) return true;  // a FIN, or a reset
    }
}

namespace {

void Append16(std::string& bytes, unsigned value) {
    bytes.push_back(static_cast<char>((value >> 8) & 0xff));
    bytes.push_back(static_cast<char>(value & 0xff));
}

void Append32(std::string& bytes, unsigned value) {
    Append16(bytes, value >> 16);
    Append16(bytes, value & 0xffff);
}

std::string Item(unsigned char type, const std::string& content) {
    std::string item(1, static_cast<char>(type));
    item.push_back('\0');
    Append16(item, static_cast<unsigned>(content.size()));
    return item + content;
}

std::string AeTitle(const std::string& title) {
    std::string padded = title.substr(0, 16);
    padded.resize(16, ' ');
    return padded;
}

}  // namespace

std::string AssociateRequestPdu(const std::string& callingAeTitle) {
    std::string body;
    Append16(body, 1);  // protocol version
    Append16(body, 0);
    body += AeTitle("ANY-SCP") + AeTitle(callingAeTitle) + std::string(32, '\0');
    body += Item(0x10, "1.2.840.10008.3.1.1.1");
    const std::string context = std::string("\x01\0\0\0", 4) + Item(0x30, "1.2.840.10008.1.1") +
                                Item(0x40, "1.2.840.10008.1.2");
    body += Item(0x20, context);
    std::string maxLength;
    Append32(maxLength, 16384);
    body += Item(0x50, Item(0x51, maxLength));
    std::string pdu("\x01\0", 2);
    Append32(pdu, static_cast<unsigned>(body.size()));
    return pdu + body;
}

namespace {

// An element of a command set: Implicit VR Little Endian.
std::string CommandElement(unsigned element, const std::string& value) {
    std::string bytes;
    for (const unsigned part : {0u, element}) {
        bytes.push_back(static_cast<char>(part & 0xff));
        bytes.push_back(static_cast<char>(part >> 8));
    }
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<char>(value.size() >> shift));
    return bytes + value;
}

std::string Us(unsigned value) {
    return {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
}

}  // namespace

std::string EchoRequestPdu() {
    const std::string body = CommandElement(0x0002, std::string("1.2.840.10008.1.1\0", 18)) +
                             CommandElement(0x0100, Us(0x0030)) + CommandElement(0x0110, Us(1)) +
                             CommandElement(0x0800, Us(0x0101));
    std::string length;
    for (int shift = 0; shift < 32; shift += 8)
        length.push_back(static_cast<char>(body.size() >> shift));
    const std::string command = CommandElement(0x0000, length) + body;
    std::string pdv;
    Append32(pdv, static_cast<unsigned>(command.size() + 2));
    pdv += std::string("\x01\x03", 2) + command;  // context 1, a whole command
    std::string pdu("\x04\0", 2);
    Append32(pdu, static_cast<unsigned>(pdv.size()));
    return pdu + pdv;
}

QString ProcessFigures::Describe() const {
    return QStringLiteral("%1 threads, %2 mappings, RSS %3 kB, VmSize %4 kB")
        .arg(threads)
        .arg(mappings)
        .arg(rssKb)
        .arg(vmSizeKb);
}

ProcessFigures FiguresOf(long long pid) {
    ProcessFigures figures;
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    QFile status(base + QStringLiteral("status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromLatin1(status.readAll());
        static const QRegularExpression threads(QStringLiteral(R"(Threads:\s+(\d+))"));
        static const QRegularExpression rss(QStringLiteral(R"(VmRSS:\s+(\d+))"));
        static const QRegularExpression size(QStringLiteral(R"(VmSize:\s+(\d+))"));
        figures.threads = threads.match(text).captured(1).toInt();
        figures.rssKb = rss.match(text).captured(1).toLong();
        figures.vmSizeKb = size.match(text).captured(1).toLong();
    }
    QFile maps(base + QStringLiteral("maps"));
    if (maps.open(QIODevice::ReadOnly)) figures.mappings = maps.readAll().count('\n');
    return figures;
}
