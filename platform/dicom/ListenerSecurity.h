#pragma once

#include <QString>

#include "platform/dicom/AccessRules.h"

// DICOM over TLS on a port of its own. Off while port is 0.
struct TlsSettings {
    int port = 0;
    QString certificateFile;  // PEM, the server's certificate
    QString privateKeyFile;   // PEM, its key, not encrypted
    // PEM file, or folder of PEM files, of the certificates that client
    // certificates must chain up to.
    QString trustedCertificates;
    // Every client must present a certificate that chains up to the trusted
    // ones; otherwise none is asked for.
    bool requireClientCertificate = false;
};

// What the listener lets in and how: TLS, the plain port, access rules.
// The default is the plain port alone, open to anyone.
struct ListenerSecurity {
    TlsSettings tls;
    bool plainPortEnabled = true;
    AccessRules access;
};
