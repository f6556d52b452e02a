#pragma once

#include <QHostAddress>
#include <QString>
#include <vector>

// Where the listener accepts connections: every IPv4 and every IPv6 address
// of the host (the default), or the addresses named.
struct ListenAddresses {
    bool every = true;
    std::vector<QHostAddress> named;  // when not every one

    bool Every() const { return every; }
    // The addresses to open, each with whether it may fail without failing
    // its port: with every address, IPv6 is taken where the host has it.
    struct Entry {
        QHostAddress address;
        bool optional = false;
    };
    std::vector<Entry> Entries() const;
    // "every IPv4 and IPv6 address", or the addresses, for the log.
    QString Description() const;

    // A listening TCP socket on the address and port, reusable as the
    // toolkit's are. An IPv6 socket takes IPv6 peers only, so IPv4 peers
    // keep their plain addresses (in the log and for AllowedNetworks).
    // Throws MwlError with the reason.
    static int OpenSocket(const QHostAddress& address, int port, int backlog);
};
