#include "platform/dicom/ListenAddresses.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QStringList>
#include <cerrno>
#include <cstring>

#include "platform/MwlError.h"

namespace {

// A link-local address names its interface ("fe80::1%eth0").
uint32_t ScopeOf(const QHostAddress& address) {
    const QString scope = address.scopeId();
    bool number = false;
    const uint32_t index = scope.toUInt(&number);
    if (number || scope.isEmpty()) return index;
    return ::if_nametoindex(scope.toLocal8Bit().constData());
}

}  // namespace

std::vector<ListenAddresses::Entry> ListenAddresses::Entries() const {
    if (Every())
        return {{QHostAddress(QHostAddress::AnyIPv4), false},
                {QHostAddress(QHostAddress::AnyIPv6), true}};
    std::vector<Entry> entries;
    for (const QHostAddress& address : named) entries.push_back({address, false});
    return entries;
}

QString ListenAddresses::Description() const {
    if (Every()) return QStringLiteral("every IPv4 and IPv6 address");
    QStringList texts;
    for (const QHostAddress& address : named) texts << address.toString();
    return texts.isEmpty() ? QStringLiteral("no address") : texts.join(QStringLiteral(", "));
}

int ListenAddresses::OpenSocket(const QHostAddress& address, int port, int backlog) {
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw MwlError(QString::fromLocal8Bit(std::strerror(errno)));
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(port));
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        in6->sin6_scope_id = ScopeOf(address);
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(static_cast<uint16_t>(port));
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in4;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd, backlog) != 0) {
        const int error = errno;
        ::close(fd);
        throw MwlError(QString::fromLocal8Bit(std::strerror(error)));
    }
    return fd;
}
