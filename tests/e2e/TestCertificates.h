#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Keys and certificates made with the openssl command for one test, in a
// temporary folder: a certificate authority "Test CA"; the server's
// certificate (CN=talvek-mwl test) and a copy that expired yesterday, both
// issued by it; a client certificate it issued (CN=modality one); and a
// self-signed "rogue" client certificate that nothing trusts. Keys are RSA
// 2048 without a password, as BCP 195 ciphersuites need RSA keys.
class TestCertificates {
public:
    TestCertificates();
    bool Made() const { return m_made; }
    // "ca.pem", "server.pem", "server.key", "expired.pem", "client.pem",
    // "client.key", "rogue.pem", "rogue.key".
    QString Path(const QString& name) const { return m_folder.filePath(name); }
    QString Folder() const { return m_folder.path(); }
    // What went wrong when Made() is false.
    const QString& Problem() const { return m_problem; }

    // findscu or echoscu options that present the client certificate and
    // check the server's against the authority.
    QStringList ClientOptions() const;

private:
    bool OpenSsl(const QStringList& arguments);

    QTemporaryDir m_folder;
    bool m_made = false;
    QString m_problem;
};
