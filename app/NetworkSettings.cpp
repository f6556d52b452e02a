#include "app/NetworkSettings.h"

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

}  // namespace

void NetworkSettings::Load(const SettingsStore& store) {
    limits = AssociationLimits();
    problems.clear();
    for (const Limit& limit : kLimits) {
        const QString key = QString::fromLatin1(limit.key);
        const QString text =
            store.Read(QStringLiteral("PACS"), QStringLiteral("Network"), key, QString()).trimmed();
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

QString NetworkSettings::Description() const {
    return QStringLiteral(
               "Network limits: %1 associations at once, association request %2 s, idle "
               "association %3 s, DIMSE %4 s, maximum PDU %5 bytes")
        .arg(limits.maxAssociations)
        .arg(limits.associationRequestTimeout)
        .arg(limits.idleAssociationTimeout)
        .arg(limits.dimseTimeout)
        .arg(limits.maxPduSize);
}
