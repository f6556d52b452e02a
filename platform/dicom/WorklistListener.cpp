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

namespace {

[[noreturn]] void CannotListen(int port, const QString& why) {
    throw MwlError(QStringLiteral("Cannot listen on port %1: %2").arg(port).arg(why));
}

}  // namespace

WorklistListener::WorklistListener(QObject* serviceContext, FindDispatcher::Handler handler)
    : m_dispatcher(serviceContext, std::move(handler)), m_log(serviceContext) {
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

void WorklistListener::Start(int port, const AssociationLimits& limits, LogSink log) {
    Stop();
    CheckPortFree(port);
    // The toolkit leaves Nagle's algorithm on unless this is set before its
    // network starts; small DIMSE messages would wait for delayed ACKs.
    qputenv("TCP_NODELAY", "1");
    m_log.SetSink(std::move(log));
    m_dispatcher.Open();
    AssociationLimits used = limits;
    used.maxAssociations = std::max(used.maxAssociations, 1);
    auto pool = std::make_unique<AssociationPool>(m_dispatcher, m_log, used);
    pool->Start(port);
    m_pool = std::move(pool);
}

void WorklistListener::Stop() {
    if (!m_pool) return;
    // Queries still waiting for the handler end with a failure status at
    // once; the handler runs on this thread and cannot take them any more.
    m_dispatcher.Shutdown();
    m_pool->Stop();
    m_pool.reset();
    m_log.Drain();
}

bool WorklistListener::Listening() const { return m_pool && m_pool->Running(); }
