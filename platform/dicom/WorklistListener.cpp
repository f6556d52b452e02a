#include "platform/dicom/WorklistListener.h"

#include <arpa/inet.h>
#include <dcmtk/oflog/oflog.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/MwlError.h"
#include "platform/dicom/AssociationPool.h"
#include "platform/dicom/TlsTransport.h"

namespace {

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

// Binds a probe socket to the port as the toolkit does (SO_REUSEADDR) and
// lets it go again: 0 when the port is free, otherwise the errno of the bind.
int WorklistListener::ProbePort(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return errno;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::listen(fd, 1) == 0;
    const int error = bound ? 0 : errno;
    ::close(fd);
    return error;
}

void WorklistListener::CheckPortFree(int port) {
    if (port < 1 || port > 65535) CannotListen(port, QStringLiteral("not a valid TCP port."));
    if (const int error = ProbePort(port))
        CannotListen(port, QString::fromLocal8Bit(std::strerror(error)));
}

WorklistListener::Started WorklistListener::Start(int port, const AssociationLimits& limits,
                                                  const ListenerSecurity& security) {
    Stop();
    Started started;
    std::vector<AssociationPool::Port> ports;
    m_plainPort = 0;
    if (security.plainPortEnabled) {
        try {
            CheckPortFree(port);
            m_plainPort = port;
            ports.push_back({port, &m_plainTransport, false});
        } catch (const MwlError& error) {
            // Alone, the plain port's problem is the whole story.
            if (security.tls.port == 0) throw;
            started.problems << error.Description();
        }
    }
    OpenTls(security, port, started);
    if (m_tlsTransport) ports.push_back({m_tlsPort, m_tlsTransport.get(), true});
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
void WorklistListener::OpenTls(const ListenerSecurity& security, int plainPort, Started& started) {
    m_tlsTransport.reset();
    m_tlsPort = 0;
    const int port = security.tls.port;
    if (port == 0) return;
    try {
        if (security.plainPortEnabled && port == plainPort)
            throw MwlError(QStringLiteral("TlsPort is the plain port WorklistPort."));
        CheckPortFree(port);
        QStringList warnings;
        m_tlsTransport = TlsTransportLayer::Create(security.tls, warnings);
        m_tlsPort = port;
        started.notes
            << QStringLiteral("TLS on port %1: %2").arg(port).arg(m_tlsTransport->Description());
        started.notes << warnings;
    } catch (const MwlError& error) {
        started.problems
            << QStringLiteral("TLS not started on port %1: %2").arg(port).arg(error.Description());
    }
}

void WorklistListener::Stop() {
    if (!m_pool) return;
    m_pool->Stop();
    m_pool.reset();
    m_tlsTransport.reset();
}

bool WorklistListener::Listening() const { return m_pool && m_pool->Running(); }
