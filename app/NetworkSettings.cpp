#include "app/NetworkSettings.h"

#include "app/CommaList.h"

namespace {

struct Limit {
    const char* key;
    int AssociationLimits::*member;
    int lowest;
    int highest;
};

// Each association has a worker thread of its own, so its count is bounded;
// the PDU bounds are the toolkit's.
constexpr Limit kLimits[] = {
    {"MaxAssociations", &AssociationLimits::maxAssociations, 1, 1000},
    {"AssociationRequestTimeout", &AssociationLimits::associationRequestTimeout, 1, 300},
    {"IdleAssociationTimeout", &AssociationLimits::idleAssociationTimeout, 1, 86400},
    {"DimseTimeout", &AssociationLimits::dimseTimeout, 1, 3600},
    {"MaxPduSize", &AssociationLimits::maxPduSize, 4096, 131072},
};

QString Read(const SettingsStore& store, const QString& key) {
    return store.Read(QStringLiteral("PACS"), QStringLiteral("Network"), key, QString()).trimmed();
}

}  // namespace

void NetworkSettings::Load(const SettingsStore& store) {
    limits = AssociationLimits();
    problems.clear();
    LoadLimits(store);
    LoadAddresses(store);
    LoadPendingStatus(store);
}

void NetworkSettings::LoadLimits(const SettingsStore& store) {
    for (const Limit& limit : kLimits) {
        const QString key = QString::fromLatin1(limit.key);
        const QString text = Read(store, key);
        if (text.isEmpty()) continue;
        bool ok = false;
        const int value = text.toInt(&ok);
        if (ok && value >= limit.lowest && value <= limit.highest) {
            limits.*limit.member = value;
            continue;
        }
        problems << QStringLiteral(
                        "Network setting %1=\"%2\" is not a number from %3 to %4; using %5.")
                        .arg(key, text)
                        .arg(limit.lowest)
                        .arg(limit.highest)
                        .arg(limits.*limit.member);
    }
}

// A list whose every entry is unreadable listens nowhere rather than on
// every address: the operator meant to narrow it.
void NetworkSettings::LoadAddresses(const SettingsStore& store) {
    addresses = ListenAddresses();
    const QString text = Read(store, QStringLiteral("ListenAddresses"));
    addresses.every = text.isEmpty();
    for (const QString& entry : CommaList(text)) {
        const QHostAddress address(entry);
        if (address.isNull())
            problems << QStringLiteral(
                            "Network setting ListenAddresses: \"%1\" is not an address; left out.")
                            .arg(entry);
        else
            addresses.named.push_back(address);
    }
}

void NetworkSettings::LoadPendingStatus(const SettingsStore& store) {
    const QString text = Read(store, QStringLiteral("PendingStatus"));
    if (text.isEmpty()) return;
    if (text.compare(QLatin1String("FF00"), Qt::CaseInsensitive) == 0)
        limits.pendingStatus = 0xFF00;
    else if (text.compare(QLatin1String("FF01"), Qt::CaseInsensitive) != 0)
        problems << QStringLiteral(
                        "Network setting PendingStatus=\"%1\" is not FF01 or FF00; using FF01.")
                        .arg(text);
}

QString NetworkSettings::Description() const {
    return QStringLiteral(
               "Network limits: %1 associations at once, association request %2 s, idle "
               "association %3 s, DIMSE %4 s, maximum PDU %5 bytes; matches pending with "
               "%6; listening on %7")
        .arg(limits.maxAssociations)
        .arg(limits.associationRequestTimeout)
        .arg(limits.idleAssociationTimeout)
        .arg(limits.dimseTimeout)
        .arg(limits.maxPduSize)
        .arg(QString::number(limits.pendingStatus, 16).toUpper(), addresses.Description());
}
