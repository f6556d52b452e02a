#include "e2e/TestCertificates.h"

#include <QFile>
#include <QProcess>

TestCertificates::TestCertificates() {
    const auto key = [](const QString& name) {
        return QStringList{QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                           QStringLiteral("-nodes"), QStringLiteral("-keyout"), name};
    };
    const auto issue = [this](const QString& request, const QString& certificate,
                              const QString& days) {
        return OpenSsl({"x509", "-req", "-in", Path(request), "-CA", Path("ca.pem"), "-CAkey",
                        Path("ca.key"), "-CAcreateserial", "-out", Path(certificate), "-days",
                        days});
    };
    m_made = m_folder.isValid() &&
             OpenSsl(QStringList{"req", "-x509"} + key(Path("ca.key")) +
                     QStringList{"-out", Path("ca.pem"), "-days", "30", "-subj", "/CN=Test CA"}) &&
             OpenSsl(QStringList{"req"} + key(Path("server.key")) +
                     QStringList{"-out", Path("server.csr"), "-subj", "/CN=talvek-mwl test"}) &&
             issue("server.csr", "server.pem", "30") &&
             // Valid until the day before it was issued: expired.
             issue("server.csr", "expired.pem", "-1") &&
             OpenSsl(QStringList{"req"} + key(Path("client.key")) +
                     QStringList{"-out", Path("client.csr"), "-subj", "/CN=modality one"}) &&
             issue("client.csr", "client.pem", "30") &&
             OpenSsl(QStringList{"req", "-x509"} + key(Path("rogue.key")) +
                     QStringList{"-out", Path("rogue.pem"), "-days", "30", "-subj", "/CN=rogue"});
    // The server's key is the service's secret: only its owner reads it.
    if (m_made)
        QFile::setPermissions(Path("server.key"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QStringList TestCertificates::ClientOptions() const {
    return {"+tls", Path("client.key"), Path("client.pem"), "+cf", Path("ca.pem")};
}

bool TestCertificates::OpenSsl(const QStringList& arguments) {
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
        openssl.exitCode() == 0)
        return true;
    m_problem =
        QStringLiteral("openssl %1: %2")
            .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(openssl.readAll()));
    return false;
}
