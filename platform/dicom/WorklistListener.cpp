#include "platform/dicom/WorklistListener.h"

#include <dcmtk/oflog/oflog.h>
#include <unistd.h>

#include <algorithm>

#include "platform/MwlError.h"
#include "platform/dicom/AssociationPool.h"
#include "platform/dicom/TlsTransport.h"

namespace {

// The toolkit listens with a backlog of 50; a burst of modalities is larger.
constexpr int kBacklog = 1024;

[[noreturn]] void CannotListen(int port, const QString& why) {
    throw MwlError(QStringLiteral("Cannot listen on port %1: %2").arg(port).arg(why));
}

}  // namespace

WorklistListener::WorklistListener(FindDispatcher& dispatcher, ActivityLog& log,
                                   ServiceStatus* status)
    : m_dispatcher(dispatcher), m_log(log), m_status(status) {
    // The toolkit narrates every association at its default level; the
    // activity log is the operator's record, so keep only its warnings.
    OFLog::configure(OFLogger::WARN_LOG_LEVEL);
}

WorklistListener::~WorklistListener() { Stop(); }

std::vector<int> WorklistListener::OpenSockets(int port, const ListenAddresses& addresses,
                                               Started& started) {
    if (port < 1 || port > 65535) CannotListen(port, QStringLiteral("not a valid TCP port."));
    std::vector<int> sockets;
    QStringList failures;
    for (const ListenAddresses::Entry& entry : addresses.Entries()) {
        try {
            sockets.push_back(ListenAddresses::OpenSocket(entry.address, port, kBacklog));
        } catch (const MwlError& error) {
            const QString where = QStringLiteral("%1 port %2: %3")
                                      .arg(entry.address.toString())
                                      .arg(port)
                                      .arg(error.Description());
            if (entry.optional) {
                started.notes << QStringLiteral("Not listening on ") + where;
            } else if (addresses.Every()) {
                for (const int socket : sockets) ::close(socket);
                CannotListen(port, error.Description());
            } else {
                failures << QStringLiteral("Cannot listen on ") + where;
            }
        }
    }
    if (sockets.empty())
        CannotListen(port, failures.isEmpty() ? QStringLiteral("ListenAddresses names no address.")
                                              : failures.join(QStringLiteral("; ")));
    started.problems << failures;
    return sockets;
}

WorklistListener::Started WorklistListener::Start(int port, const AssociationLimits& limits,
                                                  const ListenerSecurity& security,
                                                  const ListenAddresses& addresses) {
    Stop();
    Started started;
    std::vector<AssociationPool::Port> ports;
    m_plainPort = 0;
    if (security.plainPortEnabled) {
        try {
            for (const int socket : OpenSockets(port, addresses, started))
                ports.push_back({port, socket, &m_plainTransport, false});
            m_plainPort = port;
        } catch (const MwlError& error) {
            // Alone, the plain port's problem is the whole story.
            if (security.tls.port == 0) throw;
            started.problems << error.Description();
        }
    }
    for (const int socket : OpenTls(security, port, addresses, started))
        ports.push_back({m_tlsPort, socket, m_tlsTransport.get(), true});
    if (ports.empty()) {
        if (started.problems.isEmpty())
            started.problems << QStringLiteral(
                "No port to listen on: PlainPortEnabled is 0 and no TlsPort is set.");
        throw MwlError(started.problems.join(QLatin1Char(' ')));
    }
    // The toolkit leaves Nagle's algorithm on unless this is set before its
    // network starts; small DIMSE messages would wait for delayed ACKs.
    qputenv("TCP_NODELAY", "1");
    AssociationLimits used = limits;
    used.maxAssociations = std::max(used.maxAssociations, 1);
    auto pool = std::make_unique<AssociationPool>(m_dispatcher, m_steps, m_log, used,
                                                  security.access, m_status);
    pool->Start(ports);
    m_pool = std::move(pool);
    if (!security.plainPortEnabled)
        started.notes
            << QStringLiteral("Plain DICOM port %1 not opened (PlainPortEnabled is 0).").arg(port);
    return started;
}

// TLS that cannot be set up is a problem for the operator, never a reason to
// stop the plain port.
std::vector<int> WorklistListener::OpenTls(const ListenerSecurity& security, int plainPort,
                                           const ListenAddresses& addresses, Started& started) {
    m_tlsTransport.reset();
    m_tlsPort = 0;
    const int port = security.tls.port;
    if (port == 0) return {};
    std::vector<int> sockets;
    try {
        if (security.plainPortEnabled && port == plainPort)
            throw MwlError(QStringLiteral("TlsPort is the plain port WorklistPort."));
        sockets = OpenSockets(port, addresses, started);
        QStringList warnings;
        m_tlsTransport = TlsTransportLayer::Create(security.tls, warnings);
        m_tlsPort = port;
        started.notes
            << QStringLiteral("TLS on port %1: %2").arg(port).arg(m_tlsTransport->Description());
        started.notes << warnings;
    } catch (const MwlError& error) {
        for (const int socket : sockets) ::close(socket);
        sockets.clear();
        started.problems
            << QStringLiteral("TLS not started on port %1: %2").arg(port).arg(error.Description());
    }
    return sockets;
}

void WorklistListener::Stop() {
    if (!m_pool) return;
    m_pool->Stop();
    m_pool.reset();
    m_tlsTransport.reset();
}

bool WorklistListener::Listening() const { return m_pool && m_pool->Running(); }
