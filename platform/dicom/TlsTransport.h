#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "platform/dicom/ListenerSecurity.h"
#include "platform/dicom/SocketTuning.h"

class DcmTLSTransportLayer;
struct T_ASC_Association;

// The TLS port's transport layer: every accepted connection speaks TLS 1.2
// or newer with the ciphersuites of the non-downgrading BCP 195 profile,
// shows the server's certificate, asks for a client certificate only when
// one is required, and is tuned and reported to the accept hook as the plain
// port's connections are.
class TlsTransportLayer : public AcceptingTransportLayer {
public:
    // Loads and checks the certificate, its key and the trusted
    // certificates. Throws MwlError saying what is wrong (a file that is
    // missing or unreadable, a key that does not match). What deserves a
    // warning without stopping TLS (an expired certificate, a key file that
    // every user can read) is added to warnings.
    static std::unique_ptr<TlsTransportLayer> Create(const TlsSettings& settings,
                                                     QStringList& warnings);
    ~TlsTransportLayer() override;

    DcmTransportConnection* createConnection(DcmNativeSocketType openSocket,
                                             OFBool useSecureLayer) override;

    // For the log line at start: the certificate, its subject and expiry,
    // and what is asked of clients.
    const QString& Description() const { return m_description; }

private:
    explicit TlsTransportLayer(std::unique_ptr<DcmTLSTransportLayer> tls);

    std::unique_ptr<DcmTLSTransportLayer> m_tls;
    QString m_description;
};

// How the association's connection is secured, for the activity log: empty
// for plain TCP; for TLS ", over TLS", and the subject of the client's
// certificate when it showed one.
QString TlsNoteOf(T_ASC_Association* association);
