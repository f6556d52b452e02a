#include "app/SecuritySettings.h"

#include <optional>

#include "app/CommaList.h"
#include "app/LogFileSettings.h"

namespace {

// The longest AE title DICOM allows.
constexpr int kMaxAeTitle = 16;

QString Read(const SettingsStore& store, const char* key) {
    return store
        .Read(QStringLiteral("PACS"), QStringLiteral("Security"), QString::fromLatin1(key),
              QString())
        .trimmed();
}

// "10.0.0.0/8", "fd00::/8" or a single address.
std::optional<AccessRules::Network> ParseNetwork(const QString& entry) {
    if (!entry.contains(QLatin1Char('/'))) {
        const QHostAddress address(entry);
        if (address.isNull()) return std::nullopt;
        return AccessRules::Network{address,
                                    address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
    }
    const AccessRules::Network network = QHostAddress::parseSubnet(entry);
    if (network.first.isNull() || network.second < 0) return std::nullopt;
    return network;
}

QString NetworkText(const AccessRules::Network& network) {
    return network.first.toString() + QLatin1Char('/') + QString::number(network.second);
}

QString AnyWhenEmpty(const QString& text) { return text.isEmpty() ? QStringLiteral("any") : text; }

}  // namespace

void SecuritySettings::Load(const SettingsStore& store) {
    *this = SecuritySettings();
    TlsSettings& tls = listener.tls;
    const QString port = Read(store, "TlsPort");
    if (!port.isEmpty()) {
        bool ok = false;
        const int number = port.toInt(&ok);
        if (ok && number >= 1 && number <= 65535)
            tls.port = number;
        else
            problems << QStringLiteral(
                            "Security setting TlsPort=\"%1\" is not a TCP port number; TLS is off.")
                            .arg(port);
    }
    tls.certificateFile = Read(store, "TlsCertificateFile");
    tls.privateKeyFile = Read(store, "TlsPrivateKeyFile");
    tls.trustedCertificates = Read(store, "TlsTrustedCertificates");
    // Anything but "0" or nothing asks for client certificates: a mistyped
    // value must not open what was meant to be closed.
    const QString require = Read(store, "TlsRequireClientCertificate");
    tls.requireClientCertificate = !require.isEmpty() && require != QLatin1String("0");
    if (tls.requireClientCertificate && require != QLatin1String("1"))
        problems << QStringLiteral(
                        "Security setting TlsRequireClientCertificate=\"%1\" is not 1 or 0; "
                        "client certificates are required.")
                        .arg(require);
    listener.plainPortEnabled = Read(store, "PlainPortEnabled") != QLatin1String("0");

    AccessRules& access = listener.access;
    const QString callers = Read(store, "AllowedCallingAETitles");
    access.restrictCallingAe = !callers.isEmpty();
    access.callingAeTitles = CommaList(callers);
    for (const QString& title : access.callingAeTitles)
        if (title.size() > kMaxAeTitle)
            problems << QStringLiteral(
                            "Security setting AllowedCallingAETitles: \"%1\" is longer than 16 "
                            "characters and matches no AE title.")
                            .arg(title);
    const QString networks = Read(store, "AllowedNetworks");
    access.restrictNetworks = !networks.isEmpty();
    for (const QString& entry : CommaList(networks)) {
        if (const auto network = ParseNetwork(entry))
            access.networks.push_back(*network);
        else
            problems << QStringLiteral(
                            "Security setting AllowedNetworks: \"%1\" is not an address or a "
                            "network (CIDR) and allows nothing.")
                            .arg(entry);
    }
    access.requiredCalledAe = Read(store, "RequiredCalledAETitle");
    logFolder = LogFileSettings::Load(store).file.folder.trimmed();
}

QString SecuritySettings::CallingAeText() const {
    const AccessRules& access = listener.access;
    if (!access.restrictCallingAe) return QStringLiteral("any");
    return access.callingAeTitles.isEmpty() ? QStringLiteral("none")
                                            : access.callingAeTitles.join(QStringLiteral(", "));
}

QString SecuritySettings::NetworksText() const {
    const AccessRules& access = listener.access;
    if (!access.restrictNetworks) return QStringLiteral("any");
    QStringList texts;
    for (const AccessRules::Network& network : access.networks) texts << NetworkText(network);
    return texts.isEmpty() ? QStringLiteral("none") : texts.join(QStringLiteral(", "));
}

QString SecuritySettings::CalledAeText() const {
    return AnyWhenEmpty(listener.access.requiredCalledAe);
}

QString SecuritySettings::TlsText() const {
    const TlsSettings& tls = listener.tls;
    if (tls.port == 0) return QStringLiteral("off");
    return QStringLiteral("on port %1, client certificates %2")
        .arg(tls.port)
        .arg(tls.requireClientCertificate ? QStringLiteral("required")
                                          : QStringLiteral("not requested"));
}

QString SecuritySettings::PlainPortText() const {
    return listener.plainPortEnabled ? QStringLiteral("open") : QStringLiteral("closed");
}

QString SecuritySettings::PathText(const QString& path) {
    return path.isEmpty() ? QStringLiteral("none") : path;
}

QString SecuritySettings::Description() const {
    return QStringLiteral(
               "Security: TLS %1; plain DICOM port %2; calling AE titles: %3; networks: %4; "
               "called AE title: %5")
        .arg(TlsText(), PlainPortText(), CallingAeText(), NetworksText(), CalledAeText());
}
