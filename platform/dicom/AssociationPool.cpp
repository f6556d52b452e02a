#include "platform/dicom/AssociationPool.h"

#include <arpa/inet.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/dcmnet/dulstruc.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ActivityLog.h"
#include "platform/MwlError.h"
#include "platform/dicom/ConnectionWatchdog.h"

namespace {

using std::chrono::steady_clock;

// A worker waiting for a connection looks at the stop flag this often.
constexpr int kAcceptPollMs = 1000;
// How long a new peer may wait for a busy worker to come free.
constexpr auto kWaitForWorker = std::chrono::seconds(3);
// While every worker is busy, the doorkeeper looks for waiting peers this often.
constexpr int kDoorkeeperPollMs = 100;
// At stop, answers in progress get this long to finish...
constexpr auto kStopGrace = std::chrono::seconds(2);
// ...and aborts this much longer to reach their peers.
constexpr auto kAbortGrace = std::chrono::seconds(1);
constexpr auto kReportPeriod = std::chrono::seconds(60);

// The peer's numeric address, as the toolkit writes it for an association.
QString PeerAddressOf(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return QStringLiteral("?");
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes =
        address.ss_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr)
            : &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr;
    if (::inet_ntop(address.ss_family, bytes, text, sizeof text) == nullptr)
        return QStringLiteral("?");
    return QString::fromLatin1(text);
}

}  // namespace

thread_local AssociationPool::Worker* AssociationPool::t_current = nullptr;

AssociationPool::AssociationPool(FindDispatcher& dispatcher, ActivityLog& log,
                                 const AssociationLimits& limits, const AccessRules& access)
    : m_log(log),
      m_limits(limits),
      m_access(access),
      m_context{dispatcher, log, m_limits, m_access, m_stopping} {}

AssociationPool::~AssociationPool() { Stop(); }

void AssociationPool::Start(const std::vector<Port>& ports) {
    m_stopping = false;
    // Peers are logged by address; a name lookup per connection would let a
    // slow DNS server hold up every worker.
    dcmDisableGethostbyaddr.set(OFTrue);
    size_t opened = 0;
    try {
        for (; opened < ports.size(); ++opened) Open(ports[opened]);
        StartThreads();
    } catch (const std::system_error& error) {
        Stop();
        throw MwlError(QStringLiteral("Cannot listen on port %1: %2")
                           .arg(ports.empty() ? 0 : ports.front().number)
                           .arg(QString::fromLocal8Bit(error.what())));
    } catch (const MwlError&) {
        for (size_t i = opened; i < ports.size(); ++i) ::close(ports[i].socket);
        Stop();
        throw;
    }
}

// The toolkit opens listening sockets for IPv4 on every address only; it is
// given the socket opened here (any address, either family) as if it had
// opened it itself, and closes it when the network is dropped.
void AssociationPool::Open(const Port& port) {
    T_ASC_Network* network = nullptr;
    const OFCondition opened =
        ASC_initializeNetwork(NET_REQUESTOR, 0, m_limits.associationRequestTimeout, &network);
    if (opened.bad()) {
        ::close(port.socket);
        throw MwlError(QStringLiteral("Cannot listen on port %1: %2")
                           .arg(port.number)
                           .arg(QString::fromLatin1(opened.text())));
    }
    auto* key = reinterpret_cast<PRIVATE_NETWORKKEY*>(network->network);
    key->applicationFunction |= DICOM_APPLICATION_ACCEPTOR;
    key->networkSpecific.TCP.port = port.number;
    key->networkSpecific.TCP.listenSocket = port.socket;
    port.transport->SetAcceptHook([this](DcmNativeSocketType socket) { Accepted(socket); });
    ASC_setTransportLayer(network, port.transport, 0);
    m_endpoints.push_back({port, network});
    // Workers and the doorkeeper may both try to accept the same connection;
    // the one that loses must not block in accept().
    ::fcntl(port.socket, F_SETFL, ::fcntl(port.socket, F_GETFL) | O_NONBLOCK);
}

void AssociationPool::StartThreads() {
    for (int i = 0; i < m_limits.maxAssociations; ++i)
        m_workers.push_back(std::make_unique<Worker>());
    m_watchdog = std::make_unique<ConnectionWatchdog>(Slots(), kReportPeriod, [this] { Report(); });
    m_watchdog->Start();
    m_doorkeeper.thread = std::thread([this] { RunDoorkeeper(); });
    for (auto& worker : m_workers)
        worker->thread = std::thread([this, &worker = *worker] { RunWorker(worker); });
}

void AssociationPool::Stop() {
    if (m_endpoints.empty()) return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_turn.notify_all();
    m_changed.notify_all();
    // From here on a new connection is refused by the kernel instead of
    // waiting in the backlog for a worker that will never take it.
    for (const Endpoint& endpoint : m_endpoints) ::shutdown(ListenSocket(endpoint), SHUT_RDWR);
    EndAssociations();
    for (auto& worker : m_workers)
        if (worker->thread.joinable()) worker->thread.join();
    if (m_doorkeeper.thread.joinable()) m_doorkeeper.thread.join();
    if (m_watchdog) m_watchdog->Stop();
    for (Endpoint& endpoint : m_endpoints) ASC_dropNetwork(&endpoint.network);
    m_endpoints.clear();
    m_workers.clear();
    m_busy = 0;
    m_turnTaken = false;
    Report();
}

// Every connection but those answering a message stops reading at once:
// a worker waiting for a message or reading a request wakes and aborts, and
// an abort under way no longer waits for the peer to close (its A-ABORT still
// goes out). Answers in progress get the grace to finish; whatever is left
// after it is cut off both ways, which also ends a send to a peer that does
// not read.
void AssociationPool::EndAssociations() {
    const auto graceEnd = steady_clock::now() + kStopGrace;
    const auto abortEnd = graceEnd + kAbortGrace;
    for (;;) {
        const auto now = steady_clock::now();
        bool open = false;
        for (WorkerSlot* slot : Slots()) {
            const WorkerSlot::Phase phase = slot->CurrentPhase();
            if (phase == WorkerSlot::Phase::Free) continue;
            open = true;
            if (phase != WorkerSlot::Phase::Busy)
                slot->Interrupt(SHUT_RD);
            else if (now >= graceEnd)
                slot->Interrupt(SHUT_RDWR);
        }
        if (!open || now >= abortEnd) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (WorkerSlot* slot : Slots()) slot->Interrupt(SHUT_RDWR);
}

void AssociationPool::RunWorker(Worker& worker) {
    t_current = &worker;
    while (TakeTurn(worker)) {
        T_ASC_Association* association = nullptr;
        Endpoint* endpoint = WaitForConnection(kAcceptPollMs);
        const OFCondition received =
            endpoint ? Receive(*endpoint, association) : OFCondition(DUL_NOASSOCIATIONREQUEST);
        const bool accepted = worker.slot.Attached();
        // A failed accept backs off while this worker still has the turn.
        if (!accepted && received != DUL_NOASSOCIATIONREQUEST && !m_stopping.load())
            NoteAcceptFailure(received);
        PassTurn(worker);
        QString ended;
        if (accepted && received.good())
            ended = Serve(association, worker);
        else if (accepted)
            NoteUnassociated(*endpoint, worker, received);
        Finish(worker, association);
        // The end reaches the log once the worker is free again, so a peer
        // that waits for that line finds the worker there.
        if (!ended.isEmpty()) m_log.Log(ended);
    }
}

// Waits until one of the ports has a connection waiting; the ports take
// turns at being looked at first, so a busy one does not starve the other.
AssociationPool::Endpoint* AssociationPool::WaitForConnection(int timeoutMs) {
    std::vector<pollfd> listening;
    for (const Endpoint& endpoint : m_endpoints)
        listening.push_back({ListenSocket(endpoint), POLLIN, 0});
    if (::poll(listening.data(), listening.size(), timeoutMs) <= 0) return nullptr;
    const size_t first = m_nextEndpoint++;
    for (size_t i = 0; i < listening.size(); ++i) {
        const size_t at = (first + i) % listening.size();
        if (listening[at].revents & POLLIN) return &m_endpoints[at];
    }
    return nullptr;
}

// Accepts the waiting connection (another thread may have taken it first)
// and reads its association request, after the TLS handshake on the TLS port.
OFCondition AssociationPool::Receive(Endpoint& endpoint, T_ASC_Association*& association) {
    return ASC_receiveAssociation(endpoint.network, &association, m_limits.maxPduSize, nullptr,
                                  nullptr, endpoint.port.secure ? OFTrue : OFFalse, DUL_NOBLOCK, 0);
}

// A connection that never became an association is counted; on the TLS port
// the failed handshakes are counted apart, with the last reason, so an
// administrator can tell a client that is refused its certificate.
void AssociationPool::NoteUnassociated(const Endpoint& endpoint, const Worker& worker,
                                       const OFCondition& condition) {
    const bool handshake = endpoint.port.secure && condition.module() == OFM_dcmtls;
    if (!handshake) {
        ++m_unassociated;
        return;
    }
    ++m_failedHandshakes;
    std::lock_guard lock(m_failureMutex);
    m_lastHandshakeFailure =
        QStringLiteral("%1 from %2").arg(QString::fromLatin1(condition.text()), worker.peer);
}

// The toolkit reads the peer's address as IPv4 only; the address of the
// accepted socket is right for both families.
QString AssociationPool::Serve(T_ASC_Association* association, Worker& worker) {
    OFStandard::strlcpy(association->params->DULparams.callingPresentationAddress,
                        worker.peer.toLatin1().constData(),
                        sizeof association->params->DULparams.callingPresentationAddress);
    WorklistAssociation served(association, worker.slot, m_context);
    const WorklistAssociation::Negotiated negotiated = served.Negotiate();
    if (negotiated == WorklistAssociation::Negotiated::Rejected) ++m_unassociated;
    if (negotiated != WorklistAssociation::Negotiated::Accepted) return QString();
    return served.Serve(m_nextId++);
}

bool AssociationPool::TakeTurn(Worker& worker) {
    std::unique_lock lock(m_mutex);
    m_turn.wait(lock, [this] { return m_stopping.load() || !m_turnTaken; });
    if (m_stopping.load()) return false;
    m_turnTaken = true;
    worker.hasTurn = true;
    return true;
}

void AssociationPool::PassTurn(Worker& worker) {
    {
        std::lock_guard lock(m_mutex);
        if (!worker.hasTurn) return;
        worker.hasTurn = false;
        m_turnTaken = false;
    }
    m_turn.notify_one();
}

// Called by the transport layer on the accepting thread, right after the
// connection was accepted and before its first byte is read.
void AssociationPool::Accepted(DcmNativeSocketType socket) {
    Worker* worker = t_current;
    if (!worker) return;
    worker->peer = PeerAddressOf(static_cast<int>(socket));
    worker->slot.Attach(static_cast<int>(socket),
                        std::chrono::seconds(m_limits.associationRequestTimeout));
    if (worker == &m_doorkeeper) return;
    {
        std::lock_guard lock(m_mutex);
        if (++m_busy == static_cast<int>(m_workers.size())) m_fullSince = steady_clock::now();
    }
    PassTurn(*worker);
    m_changed.notify_all();
}

void AssociationPool::Finish(Worker& worker, T_ASC_Association*& association) {
    const bool accepted = worker.slot.Attached();
    worker.slot.Detach();
    ASC_destroyAssociation(&association);  // closes the connection
    if (!accepted || &worker == &m_doorkeeper) return;
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
    }
    m_changed.notify_all();
}

// A peer that finds every worker busy waits in the backlog; once they have
// all been busy for kWaitForWorker without a break, waiting peers are
// refused until one comes free.
void AssociationPool::RunDoorkeeper() {
    t_current = &m_doorkeeper;
    const int workers = static_cast<int>(m_workers.size());
    std::unique_lock lock(m_mutex);
    while (!m_stopping.load()) {
        m_changed.wait(lock, [&] { return m_stopping.load() || m_busy >= workers; });
        if (m_stopping.load()) break;
        const auto refuseFrom = m_fullSince + kWaitForWorker;
        if (steady_clock::now() < refuseFrom) {
            m_changed.wait_until(lock, refuseFrom,
                                 [&] { return m_stopping.load() || m_busy < workers; });
            continue;
        }
        lock.unlock();
        Endpoint* waiting = WaitForConnection(kDoorkeeperPollMs);
        lock.lock();
        // While it looked, a worker may have come free (and been taken again).
        if (!waiting || m_busy < workers || steady_clock::now() < m_fullSince + kWaitForWorker)
            continue;
        lock.unlock();
        RefuseOne(*waiting);
        lock.lock();
    }
}

void AssociationPool::RefuseOne(Endpoint& endpoint) {
    T_ASC_Association* association = nullptr;
    const OFCondition received = Receive(endpoint, association);
    if (m_doorkeeper.slot.Attached()) {
        if (received.good()) {
            T_ASC_RejectParameters rejection{ASC_RESULT_REJECTEDTRANSIENT,
                                             ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                                             ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED};
            ASC_rejectAssociation(association, &rejection);
            ++m_refusedBusy;
        } else {
            NoteUnassociated(endpoint, m_doorkeeper, received);
        }
    }
    Finish(m_doorkeeper, association);
}

// A connection that another thread accepted first is no failure; anything
// else (no descriptors left, for one) is reported and slows the loop down.
void AssociationPool::NoteAcceptFailure(const OFCondition& condition) {
    const QString text = QString::fromLatin1(condition.text());
    if (text.contains(QString::fromLocal8Bit(std::strerror(EAGAIN)))) return;
    {
        std::lock_guard lock(m_failureMutex);
        m_lastFailure = text;
    }
    ++m_acceptFailures;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// Sockets that never became associations are counted, not logged one by one:
// a port scanner or a health check would flood the log.
void AssociationPool::Report() {
    if (const auto count = m_unassociated.exchange(0))
        m_log.Log(QStringLiteral("Connections that ended without an association: %1").arg(count));
    if (const auto count = m_refusedBusy.exchange(0))
        m_log.Log(QStringLiteral("Association requests refused, all %1 associations busy: %2")
                       .arg(m_limits.maxAssociations)
                       .arg(count));
    if (const auto count = m_acceptFailures.exchange(0)) {
        std::lock_guard lock(m_failureMutex);
        m_log.Log(QStringLiteral("Connections that could not be accepted: %1 (%2)")
                       .arg(count)
                       .arg(m_lastFailure));
    }
    if (const auto count = m_failedHandshakes.exchange(0)) {
        std::lock_guard lock(m_failureMutex);
        m_log.Log(QStringLiteral("TLS connections refused in the handshake: %1 (last: %2)")
                       .arg(count)
                       .arg(m_lastHandshakeFailure));
    }
}

int AssociationPool::ListenSocket(const Endpoint& endpoint) {
    const auto* key = reinterpret_cast<const PRIVATE_NETWORKKEY*>(endpoint.network->network);
    return static_cast<int>(key->networkSpecific.TCP.listenSocket);
}

std::vector<WorkerSlot*> AssociationPool::Slots() {
    std::vector<WorkerSlot*> all{&m_doorkeeper.slot};
    for (auto& worker : m_workers) all.push_back(&worker->slot);
    return all;
}
