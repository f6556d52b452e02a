#include "platform/dicom/AccessRules.h"

namespace {

// An IPv4 peer is also matched against IPv6 networks in its mapped form
// (::ffff:a.b.c.d), and a mapped IPv6 peer against IPv4 networks.
bool InNetwork(const QHostAddress& peer, const AccessRules::Network& network) {
    if (peer.isInSubnet(network.first, network.second)) return true;
    bool isIpv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
    if (!isIpv4) return false;
    if (peer.protocol() == QAbstractSocket::IPv6Protocol)
        return QHostAddress(ipv4).isInSubnet(network.first, network.second);
    return QHostAddress(QStringLiteral("::ffff:") + peer.toString())
        .isInSubnet(network.first, network.second);
}

}  // namespace

bool AccessRules::AddressAllowed(const QString& peerAddress) const {
    if (!restrictNetworks) return true;
    const QHostAddress peer(peerAddress.trimmed());
    if (peer.isNull()) return false;
    for (const Network& network : networks)
        if (InNetwork(peer, network)) return true;
    return false;
}

AccessRules::Verdict AccessRules::Check(const QString& peerAddress, const QString& callingAe,
                                        const QString& calledAe) const {
    if (!AddressAllowed(peerAddress)) return Verdict::AddressNotAllowed;
    if (restrictCallingAe && !callingAeTitles.contains(callingAe.trimmed()))
        return Verdict::CallingAeNotAllowed;
    if (!requiredCalledAe.isEmpty() && calledAe.trimmed() != requiredCalledAe)
        return Verdict::CalledAeNotAllowed;
    return Verdict::Allowed;
}
