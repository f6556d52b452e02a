#include "platform/dicom/TlsTransport.h"

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/dcmtls/tlslayer.h>
#include <dcmtk/dcmtls/tlstrans.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <ctime>
#include <mutex>

#include "platform/MwlError.h"
#include "platform/dicom/TunedConnection.h"

namespace {

// A TLS connection that keeps its own handle on the OpenSSL session, for the
// subject of the client's certificate.
class TlsConnection : public TunedConnection<DcmTLSConnection> {
public:
    TlsConnection(DcmNativeSocketType socket, SSL* ssl)
        : TunedConnection<DcmTLSConnection>(socket, ssl), m_ssl(ssl) {}

    void close() override {
        TunedConnection<DcmTLSConnection>::close();
        m_ssl = nullptr;  // freed by the close
    }

    QString PeerSubject() const;

private:
    SSL* m_ssl;
};

QString NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) return QString();
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    const QString text = QString::fromUtf8(data, static_cast<qsizetype>(length));
    BIO_free(bio);
    return text;
}

QDateTime TimeOf(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return QDateTime();
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

QString IsoText(const QDateTime& when) {
    return when.isValid() ? when.toString(Qt::ISODate) : QStringLiteral("(unknown)");
}

QString TlsConnection::PeerSubject() const {
    if (m_ssl == nullptr) return QString();
    X509* certificate = SSL_get1_peer_certificate(m_ssl);
    if (certificate == nullptr) return QString();
    const QString subject = NameText(X509_get_subject_name(certificate));
    X509_free(certificate);
    return subject;
}

[[noreturn]] void Refuse(const QString& why) { throw MwlError(why); }

QByteArray PathBytes(const QString& path) { return QFile::encodeName(path); }

void RequireReadableFile(const QString& path, const char* what, const char* key) {
    if (path.isEmpty())
        Refuse(QStringLiteral("no %1 is set (%2).").arg(QLatin1String(what), QLatin1String(key)));
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        Refuse(QStringLiteral("the %1 %2 does not exist or cannot be read.")
                   .arg(QLatin1String(what), path));
}

// The certificate's subject and validity; an expired or not yet valid
// certificate is a warning, not a refusal: peers told to skip the check
// still connect, and the operator reads why the others do not.
QString DescribeCertificate(const QString& path, QStringList& warnings) {
    X509* certificate =
        DcmTLSTransportLayer::loadCertificateFile(PathBytes(path).constData(), DCF_Filetype_PEM);
    if (certificate == nullptr)
        Refuse(QStringLiteral("the certificate %1 is not a PEM certificate.").arg(path));
    const QString subject = NameText(X509_get_subject_name(certificate));
    const QDateTime notBefore = TimeOf(X509_get0_notBefore(certificate));
    const QDateTime notAfter = TimeOf(X509_get0_notAfter(certificate));
    const bool expired = X509_cmp_current_time(X509_get0_notAfter(certificate)) < 0;
    const bool early = X509_cmp_current_time(X509_get0_notBefore(certificate)) > 0;
    X509_free(certificate);
    if (expired)
        warnings << QStringLiteral(
                        "The TLS certificate %1 expired on %2: modalities that check it will "
                        "refuse to connect.")
                        .arg(path, IsoText(notAfter));
    if (early)
        warnings << QStringLiteral(
                        "The TLS certificate %1 is valid only from %2: modalities that check it "
                        "will refuse to connect.")
                        .arg(path, IsoText(notBefore));
    return QStringLiteral("certificate %1, subject %2, expires %3")
        .arg(path, subject, IsoText(notAfter));
}

// A folder's certificates are read file by file, so the folder needs no
// hashed names; a file that is no certificate is named and skipped.
void AddTrusted(DcmTLSTransportLayer& tls, const QString& path, QStringList& warnings) {
    const QFileInfo info(path);
    if (info.isDir()) {
        int loaded = 0;
        const QDir folder(path);
        for (const QString& name : folder.entryList(QDir::Files | QDir::Readable, QDir::Name)) {
            const QString file = folder.filePath(name);
            if (tls.addTrustedCertificateFile(PathBytes(file).constData(), DCF_Filetype_PEM).good())
                ++loaded;
            else
                warnings << QStringLiteral(
                                "TLS: %1 in the trusted certificates is not a PEM "
                                "certificate; skipped.")
                                .arg(file);
        }
        if (loaded == 0)
            Refuse(QStringLiteral("the folder of trusted certificates %1 holds no certificate.")
                       .arg(path));
        return;
    }
    RequireReadableFile(path, "trusted certificates file", "TlsTrustedCertificates");
    if (tls.addTrustedCertificateFile(PathBytes(path).constData(), DCF_Filetype_PEM).bad())
        Refuse(
            QStringLiteral("the trusted certificates file %1 holds no PEM certificate.").arg(path));
}

std::unique_ptr<DcmTLSTransportLayer> MakeContext() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { DcmTLSTransportLayer::initializeOpenSSL(); });
    auto tls = std::make_unique<DcmTLSTransportLayer>(NET_ACCEPTOR, nullptr, OFFalse);
    if (!*tls) Refuse(QStringLiteral("the TLS library cannot be set up."));
    // A key that needs a password would make OpenSSL ask on the terminal,
    // which a service does not have: an empty one makes it fail instead.
    tls->setPrivateKeyPasswd("");
    return tls;
}

}  // namespace

TlsTransportLayer::TlsTransportLayer(std::unique_ptr<DcmTLSTransportLayer> tls)
    : m_tls(std::move(tls)) {}

TlsTransportLayer::~TlsTransportLayer() = default;

std::unique_ptr<TlsTransportLayer> TlsTransportLayer::Create(const TlsSettings& settings,
                                                             QStringList& warnings) {
    RequireReadableFile(settings.certificateFile, "certificate file", "TlsCertificateFile");
    RequireReadableFile(settings.privateKeyFile, "private key file", "TlsPrivateKeyFile");
    if (settings.requireClientCertificate && settings.trustedCertificates.isEmpty())
        Refuse(
            QStringLiteral("client certificates are required (TlsRequireClientCertificate) "
                           "but no trusted certificates are set (TlsTrustedCertificates)."));
    std::unique_ptr<DcmTLSTransportLayer> tls = MakeContext();
    const QString description = DescribeCertificate(settings.certificateFile, warnings);
    if (tls->setPrivateKeyFile(PathBytes(settings.privateKeyFile).constData(), DCF_Filetype_PEM)
            .bad())
        Refuse(QStringLiteral("the private key %1 cannot be read (a PEM key without a password "
                              "is needed).")
                   .arg(settings.privateKeyFile));
    // Loaded after the key: the other way round, a key that does not match
    // would be refused as unreadable.
    if (tls->setCertificateFile(PathBytes(settings.certificateFile).constData(), DCF_Filetype_PEM)
            .bad())
        Refuse(QStringLiteral("the certificate %1 cannot be used.").arg(settings.certificateFile));
    if (!tls->checkPrivateKeyMatchesCertificate())
        Refuse(QStringLiteral("the private key %1 does not match the certificate %2.")
                   .arg(settings.privateKeyFile, settings.certificateFile));
    if (QFileInfo(settings.privateKeyFile).permissions() & QFileDevice::ReadOther)
        warnings << QStringLiteral(
                        "The TLS private key %1 can be read by every user of this "
                        "machine.")
                        .arg(settings.privateKeyFile);
    if (!settings.trustedCertificates.isEmpty())
        AddTrusted(*tls, settings.trustedCertificates, warnings);
    if (tls->setTLSProfile(TSP_Profile_BCP195_ND).bad() || tls->activateCipherSuites().bad())
        Refuse(QStringLiteral("the BCP 195 ciphersuites are not available."));
    tls->setCertificateVerification(settings.requireClientCertificate ? DCV_requireCertificate
                                                                      : DCV_ignoreCertificate);
    ERR_clear_error();
    std::unique_ptr<TlsTransportLayer> layer(new TlsTransportLayer(std::move(tls)));
    layer->m_description =
        description + (settings.requireClientCertificate
                           ? QStringLiteral("; client certificates required, trusted %1")
                                 .arg(settings.trustedCertificates)
                           : QStringLiteral("; client certificates not requested"));
    return layer;
}

DcmTransportConnection* TlsTransportLayer::createConnection(DcmNativeSocketType openSocket,
                                                            OFBool /*useSecureLayer*/) {
    Accepted(openSocket);
    SSL* ssl = SSL_new(m_tls->getNativeHandle());
    if (ssl == nullptr) return nullptr;  // the toolkit closes the socket
    SSL_set_fd(ssl, static_cast<int>(openSocket));
    return new TlsConnection(openSocket, ssl);
}

QString TlsNoteOf(T_ASC_Association* association) {
    if (association == nullptr || association->DULassociation == nullptr) return QString();
    const auto* connection =
        dynamic_cast<const TlsConnection*>(DUL_getTransportConnection(association->DULassociation));
    if (connection == nullptr) return QString();
    const QString subject = connection->PeerSubject();
    if (subject.isEmpty()) return QStringLiteral(", over TLS");
    return QStringLiteral(", over TLS, client certificate %1").arg(subject);
}
