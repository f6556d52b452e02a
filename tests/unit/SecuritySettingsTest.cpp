// Who may associate, and how TLS is set up, as read from the "PACS"
// "Security" section; the matching of peers against the rules.

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "Fakes.h"
#include "app/SecuritySettings.h"
#include "platform/FailureKind.h"
#include "platform/settings/QtSettingsStore.h"

namespace {

const QString kPacs = QStringLiteral("PACS");
const QString kSecurity = QStringLiteral("Security");
using Verdict = AccessRules::Verdict;

SecuritySettings Loaded(const std::map<QString, QString>& values) {
    FakeSettings store;
    for (const auto& [key, value] : values) store.Set(kPacs, kSecurity, key, value);
    SecuritySettings settings;
    settings.Load(store);
    return settings;
}

}  // namespace

TEST(SecuritySettings, NothingSetLetsAnyoneInOnThePlainPortAlone) {
    const SecuritySettings settings = Loaded({});
    const ListenerSecurity& listener = settings.listener;
    EXPECT_EQ(listener.tls.port, 0);
    EXPECT_TRUE(listener.plainPortEnabled);
    EXPECT_EQ(listener.access.Check("192.0.2.7", "ANY", "WHATEVER"), Verdict::Allowed);
    EXPECT_TRUE(settings.problems.isEmpty());
    EXPECT_EQ(settings.Description(),
              "Security: TLS off; plain DICOM port open; calling AE titles: any; networks: any; "
              "called AE title: any");
}

TEST(SecuritySettings, EverySettingReadAndDescribed) {
    const SecuritySettings settings =
        Loaded({{"TlsPort", " 2762 "},
                {"TlsCertificateFile", "/etc/talvek/server.pem"},
                {"TlsPrivateKeyFile", "/etc/talvek/server.key"},
                {"TlsTrustedCertificates", "/etc/talvek/ca"},
                {"TlsRequireClientCertificate", "1"},
                {"PlainPortEnabled", "0"},
                {"AllowedCallingAETitles", "CT1, MR_2 ,,US3"},
                {"AllowedNetworks", "10.1.0.0/16, 192.0.2.9, fd00::/8"},
                {"RequiredCalledAETitle", " TALVEK "},
                {"LogFolder", "/var/log/talvek"}});
    const TlsSettings& tls = settings.listener.tls;
    EXPECT_EQ(tls.port, 2762);
    EXPECT_EQ(tls.certificateFile, "/etc/talvek/server.pem");
    EXPECT_EQ(tls.privateKeyFile, "/etc/talvek/server.key");
    EXPECT_EQ(tls.trustedCertificates, "/etc/talvek/ca");
    EXPECT_TRUE(tls.requireClientCertificate);
    EXPECT_FALSE(settings.listener.plainPortEnabled);
    EXPECT_EQ(settings.logFolder, "/var/log/talvek");
    EXPECT_TRUE(settings.problems.isEmpty()) << settings.problems.join("\n").toStdString();
    EXPECT_EQ(settings.Description(),
              "Security: TLS on port 2762, client certificates required; plain DICOM port closed; "
              "calling AE titles: CT1, MR_2, US3; networks: 10.1.0.0/16, 192.0.2.9/32, fd00::/8; "
              "called AE title: TALVEK");
}

// A setting that is mistyped must close rather than open: a bad network
// entry allows nothing, and a client certificate switch that is neither 1 nor
// 0 requires certificates.
TEST(SecuritySettings, MistypedValuesAreNamedAndNeverOpenTheServer) {
    const SecuritySettings settings = Loaded({{"TlsPort", "27x"},
                                              {"TlsRequireClientCertificate", "yes"},
                                              {"AllowedCallingAETitles", "AN_AE_TITLE_OF_20_CHS"},
                                              {"AllowedNetworks", "10.0.0.0/33, intranet"}});
    EXPECT_EQ(settings.listener.tls.port, 0);
    EXPECT_TRUE(settings.listener.tls.requireClientCertificate);
    const AccessRules& access = settings.listener.access;
    EXPECT_TRUE(access.restrictNetworks);
    EXPECT_TRUE(access.networks.empty());
    EXPECT_EQ(access.Check("10.0.0.1", "AN_AE_TITLE_OF_20_CHS", "X"), Verdict::AddressNotAllowed);
    EXPECT_EQ(settings.NetworksText(), "none");
    EXPECT_EQ(settings.problems,
              (QStringList{
                  "Security setting TlsPort=\"27x\" is not a TCP port number; TLS is off.",
                  "Security setting TlsRequireClientCertificate=\"yes\" is not 1 or 0; client "
                  "certificates are required.",
                  "Security setting AllowedCallingAETitles: \"AN_AE_TITLE_OF_20_CHS\" is longer "
                  "than 16 characters and matches no AE title.",
                  "Security setting AllowedNetworks: \"10.0.0.0/33\" is not an address or a "
                  "network (CIDR) and allows nothing.",
                  "Security setting AllowedNetworks: \"intranet\" is not an address or a network "
                  "(CIDR) and allows nothing."}));
}

TEST(AccessRules, AddressesMatchTheirNetworksInBothFamilies) {
    const SecuritySettings settings = Loaded(
        {{"AllowedNetworks", "10.20.0.0/16, 192.0.2.9, 2001:db8::/32, ::ffff:172.16.0.0/112"}});
    const AccessRules& access = settings.listener.access;
    for (const char* allowed : {"10.20.0.1", "10.20.255.254", "192.0.2.9", "2001:db8::1",
                                "172.16.3.4", "::ffff:10.20.1.1", "::ffff:172.16.0.1"})
        EXPECT_TRUE(access.AddressAllowed(allowed)) << allowed;
    for (const char* refused : {"10.21.0.1", "192.0.2.10", "127.0.0.1", "2001:db9::1", "::1",
                                "172.17.0.1", "", "not-an-address"})
        EXPECT_FALSE(access.AddressAllowed(refused)) << refused;
}

// AE titles are compared as DICOM compares them: exactly, letter case
// included, leading and trailing spaces aside. The address is checked first.
TEST(AccessRules, AeTitlesAndTheOrderOfTheChecks) {
    const SecuritySettings settings = Loaded({{"AllowedCallingAETitles", "CT1,MR2"},
                                              {"RequiredCalledAETitle", "TALVEK"},
                                              {"AllowedNetworks", "127.0.0.0/8"}});
    const AccessRules& access = settings.listener.access;
    EXPECT_EQ(access.Check("127.0.0.1", "CT1", "TALVEK"), Verdict::Allowed);
    EXPECT_EQ(access.Check("127.0.0.1", " MR2  ", "TALVEK  "), Verdict::Allowed);
    EXPECT_EQ(access.Check("127.0.0.1", "ct1", "TALVEK"), Verdict::CallingAeNotAllowed);
    EXPECT_EQ(access.Check("127.0.0.1", "CT", "TALVEK"), Verdict::CallingAeNotAllowed);
    EXPECT_EQ(access.Check("127.0.0.1", "CT1", "talvek"), Verdict::CalledAeNotAllowed);
    EXPECT_EQ(access.Check("127.0.0.1", "OTHER", "OTHER"), Verdict::CallingAeNotAllowed);
    EXPECT_EQ(access.Check("10.0.0.1", "OTHER", "OTHER"), Verdict::AddressNotAllowed);
}

// An administrator writes a list into the file by hand, without quotes; the
// settings file format reads that back as pieces, which must come together
// again instead of reading as nothing (which would let anyone in).
TEST(SecuritySettings, ListWrittenByHandIntoTheSettingsFile) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray oldHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
    QDir(folder.path()).mkpath(QStringLiteral("TALVEK"));
    QFile file(folder.filePath(QStringLiteral("TALVEK/PACS.conf")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Security]\nAllowedCallingAETitles=CT1, MR2\nAllowedNetworks=10.0.0.0/8, "
        "127.0.0.1\n");
    file.close();
    {
        QtSettingsStore store;
        SecuritySettings settings;
        settings.Load(store);
        EXPECT_EQ(settings.CallingAeText(), "CT1, MR2");
        EXPECT_EQ(settings.NetworksText(), "10.0.0.0/8, 127.0.0.1/32");
    }
    qputenv("XDG_CONFIG_HOME", oldHome);
}

// The Error Comment is an LO value: at most 64 characters, one line, and
// plain ASCII so that any character set a peer reads it in shows it alike.
TEST(FailureKind, EveryErrorCommentFitsItsValue) {
    for (int kind = static_cast<int>(FailureKind::Unspecified);
         kind <= static_cast<int>(FailureKind::ServerStopping); ++kind) {
        const QString comment = ErrorCommentFor(static_cast<FailureKind>(kind));
        SCOPED_TRACE(comment.toStdString());
        EXPECT_FALSE(comment.isEmpty());
        EXPECT_LE(comment.size(), 64);
        for (const QChar c : comment) EXPECT_TRUE(c.unicode() >= 0x20 && c.unicode() < 0x7f);
    }
}
