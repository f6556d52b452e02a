// DICOM over TLS, with certificates the test makes: modalities with a
// trusted certificate are served; plain TCP, untrusted and missing client
// certificates are refused at the handshake; a setup that cannot work is
// named at start while the plain port goes on serving.

#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/RawPeer.h"
#include "e2e/ServerProcess.h"
#include "e2e/TestCertificates.h"

namespace {

// The [Security] lines of a TLS port with the test's certificates.
QString TlsSection(const TestCertificates& certificates, int tlsPort,
                   const QString& certificate = QStringLiteral("server.pem"),
                   const QString& key = QStringLiteral("server.key")) {
    return QStringLiteral("TlsPort=%1\nTlsCertificateFile=%2\nTlsPrivateKeyFile=%3\n")
        .arg(tlsPort)
        .arg(certificates.Path(certificate), certificates.Path(key));
}

QString RequireClients(const TestCertificates& certificates) {
    return QStringLiteral("TlsTrustedCertificates=%1\nTlsRequireClientCertificate=1\n")
        .arg(certificates.Path(QStringLiteral("ca.pem")));
}

}  // namespace

TEST(Tls, TrustedClientsAreServedAndEveryOtherPeerIsRefusedAtTheHandshake) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Made()) << certificates.Problem().toStdString();
    const int tlsPort = FreeLoopbackPort();
    ServerSettings settings;
    settings.security = TlsSection(certificates, tlsPort) + RequireClients(certificates);
    ServerProcess server(settings);
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(server.Errors().contains(QStringLiteral("listening on port %1 and on port %2 (TLS)")
                                             .arg(server.Port())
                                             .arg(tlsPort)));
    EXPECT_TRUE(server.WaitForLog(
        QStringLiteral("TLS on port %1: certificate %2, subject CN=talvek-mwl test, expires ")
            .arg(tlsPort)
            .arg(certificates.Path("server.pem"))))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("; client certificates required, trusted %1")
                                      .arg(certificates.Path("ca.pem"))));

    const QStringList tls = certificates.ClientOptions();
    const FindOutcome secure = FindScu::Run(tlsPort, WorklistKeys(), QStringList{"-W"} + tls);
    EXPECT_TRUE(secure.Succeeded()) << secure.output.right(2000).toStdString();
    EXPECT_EQ(secure.PatientIds(), QStringList({"P1", "P2", "P3"}));
    QString echoed;
    EXPECT_TRUE(EchoSucceeds(tlsPort, &echoed, tls)) << echoed.toStdString();
    EXPECT_TRUE(server.WaitForLog(
        QStringLiteral("calling AE FINDSCU, called AE ANY-SCP, over TLS, client certificate "
                       "CN=modality one")))
        << server.ActivityLog().toStdString();

    struct Refused {
        const char* who;
        QStringList options;
    };
    const Refused refused[] = {
        {"plain TCP on the TLS port", {}},
        {"a certificate nobody issued",
         {"+tls", certificates.Path("rogue.key"), certificates.Path("rogue.pem"), "+cf",
          certificates.Path("ca.pem")}},
        {"no client certificate", {"+tla", "+cf", certificates.Path("ca.pem")}},
    };
    for (const Refused& peer : refused) {
        SCOPED_TRACE(peer.who);
        QString output;
        EXPECT_FALSE(EchoSucceeds(tlsPort, &output, peer.options)) << output.toStdString();
        const FindOutcome outcome =
            FindScu::Run(tlsPort, WorklistKeys(), QStringList{"-W"} + peer.options);
        EXPECT_TRUE(outcome.matches.empty());
        EXPECT_FALSE(outcome.Succeeded());
        ASSERT_TRUE(server.Running()) << server.Errors().toStdString();
    }

    // Both ports still serve.
    EXPECT_TRUE(FindScu::Run(server.Port(), WorklistKeys()).Succeeded());
    EXPECT_TRUE(FindScu::Run(tlsPort, WorklistKeys(), QStringList{"-W"} + tls).Succeeded());
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_TRUE(log.contains(QStringLiteral("TLS connections refused in the handshake: 6 (last: ")))
        << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral(", over TLS, client certificate CN=modality one")), 3);
}

// Without client certificates any TLS client is served; with the plain port
// closed nothing answers in clear text.
TEST(Tls, TlsAloneWithoutClientCertificates) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Made()) << certificates.Problem().toStdString();
    ServerSettings settings;
    settings.reportedPort = FreeLoopbackPort();
    settings.security = TlsSection(certificates, *settings.reportedPort) +
                        QStringLiteral("PlainPortEnabled=0\nTlsRequireClientCertificate=0\n");
    ServerProcess server(settings);
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(2)));
    ASSERT_TRUE(server.Start());
    const int tlsPort = *settings.reportedPort;
    EXPECT_TRUE(
        server.Errors().contains(QStringLiteral("listening on port %1 (TLS)").arg(tlsPort)));
    EXPECT_FALSE(server.Errors().contains(QStringLiteral("port %1").arg(server.Port())));

    const FindOutcome anonymous =
        FindScu::Run(tlsPort, WorklistKeys(), {"-W", "+tla", "+cf", certificates.Path("ca.pem")});
    EXPECT_TRUE(anonymous.Succeeded()) << anonymous.output.right(2000).toStdString();
    EXPECT_EQ(anonymous.PatientIds(), QStringList({"P1", "P2"}));
    EXPECT_TRUE(EchoSucceeds(tlsPort, nullptr, certificates.ClientOptions()));

    const int plain = ConnectRaw(server.Port());
    EXPECT_EQ(plain, -1) << "the plain port accepted a connection";
    if (plain >= 0) ::close(plain);
    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(server.ActivityLog().contains(
        QStringLiteral("Plain DICOM port %1 not opened (PlainPortEnabled is 0).")
            .arg(server.Port())));
    EXPECT_TRUE(
        server.ActivityLog().contains(QStringLiteral("; client certificates not requested")));
}

// Whatever is wrong with the TLS setup is said at start, the program keeps
// running, and the plain port serves as if TLS had never been asked for.
TEST(Tls, SetupThatCannotWorkIsNamedAndThePlainPortServes) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Made()) << certificates.Problem().toStdString();
    struct Case {
        const char* what;
        QString certificate;
        QString key;
        QString extra;
        QString line;
    };
    const Case cases[] = {
        {"no such certificate file", "missing.pem", "server.key", "",
         "the certificate file " + certificates.Path("missing.pem") +
             " does not exist or cannot be read."},
        {"a key that belongs to another certificate", "server.pem", "client.key", "",
         "the private key " + certificates.Path("client.key") + " does not match the certificate " +
             certificates.Path("server.pem") + "."},
        {"a key file that holds no key", "server.pem", "ca.pem", "",
         "the private key " + certificates.Path("ca.pem") +
             " cannot be read (a PEM key without a password is needed)."},
        {"client certificates required, nothing trusted", "server.pem", "server.key",
         "TlsRequireClientCertificate=1\n",
         "client certificates are required (TlsRequireClientCertificate) but no trusted "
         "certificates are set (TlsTrustedCertificates)."},
        {"trusted certificates in an empty folder", "server.pem", "server.key",
         "TlsRequireClientCertificate=1\nTlsTrustedCertificates=/nonexistent-folder-of-cas\n",
         "the trusted certificates file /nonexistent-folder-of-cas does not exist or cannot be "
         "read."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int tlsPort = FreeLoopbackPort();
        ServerSettings settings;
        settings.security = TlsSection(certificates, tlsPort, c.certificate, c.key) + c.extra;
        ServerProcess server(settings);
        ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(1)));
        ASSERT_TRUE(server.Start());
        EXPECT_TRUE(server.WaitForLog(
            QStringLiteral("TLS not started on port %1: %2").arg(tlsPort).arg(c.line)))
            << server.ActivityLog().toStdString();
        EXPECT_TRUE(
            server.Errors().contains(QStringLiteral("listening on port %1\n").arg(server.Port())))
            << server.Errors().toStdString();
        EXPECT_TRUE(FindScu::Run(server.Port(), WorklistKeys()).Succeeded());
        EXPECT_EQ(ConnectRaw(tlsPort), -1);
        EXPECT_TRUE(server.Stop());
    }
}

// The server still offers an expired certificate (a modality told not to
// check it goes on working) and says at start why the others refuse.
TEST(Tls, ExpiredCertificateIsLoggedAtStart) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.Made()) << certificates.Problem().toStdString();
    const int tlsPort = FreeLoopbackPort();
    ServerSettings settings;
    settings.security = TlsSection(certificates, tlsPort, QStringLiteral("expired.pem"));
    ServerProcess server(settings);
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(1)));
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(server.WaitForLog(
        QStringLiteral("The TLS certificate %1 expired on ").arg(certificates.Path("expired.pem"))))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(
        server.WaitForLog(QStringLiteral(": modalities that check it will refuse to connect.")));

    const FindOutcome checking =
        FindScu::Run(tlsPort, WorklistKeys(), QStringList{"-W"} + certificates.ClientOptions());
    EXPECT_FALSE(checking.Succeeded());
    EXPECT_TRUE(checking.output.contains(QStringLiteral("certificate")))
        << checking.output.toStdString();
    const FindOutcome trusting = FindScu::Run(
        tlsPort, WorklistKeys(),
        {"-W", "+tls", certificates.Path("client.key"), certificates.Path("client.pem"), "-ic"});
    EXPECT_TRUE(trusting.Succeeded()) << trusting.output.right(2000).toStdString();
    EXPECT_TRUE(server.Stop());
}
