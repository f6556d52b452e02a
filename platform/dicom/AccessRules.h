#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// Who may open an association: by calling AE title, by the peer's network
// address and by the called AE title. A rule that is not set lets anyone
// through; a rule that is set lets through only what it names, so an entry
// that cannot be read narrows the rule instead of opening it.
struct AccessRules {
    enum class Verdict { Allowed, AddressNotAllowed, CallingAeNotAllowed, CalledAeNotAllowed };
    using Network = std::pair<QHostAddress, int>;  // address and prefix length

    bool restrictCallingAe = false;
    QStringList callingAeTitles;
    bool restrictNetworks = false;
    std::vector<Network> networks;
    QString requiredCalledAe;  // empty: any called AE title

    // AE titles compare exactly, letter case included, without their
    // leading and trailing spaces. The address is checked first, then the
    // calling and the called AE title.
    Verdict Check(const QString& peerAddress, const QString& callingAe,
                  const QString& calledAe) const;
    bool AddressAllowed(const QString& peerAddress) const;
};
