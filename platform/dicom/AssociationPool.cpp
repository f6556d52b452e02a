#include "platform/dicom/AssociationPool.h"

#include <arpa/inet.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/dcmnet/dulstruc.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "platform/ActivityLog.h"
#include "platform/MwlError.h"
#include "platform/dicom/ConnectionWatchdog.h"

namespace {

using std::chrono::steady_clock;

// How long a request may wait for a busy worker to come free.
constexpr auto kWaitForWorker = std::chrono::seconds(3);
// A connection taken by a worker gets at least this long to be read, however
// little of its request deadline was left when it arrived.
constexpr auto kLeastRequestTime = std::chrono::seconds(1);
// At stop, answers in progress get this long to finish...
constexpr auto kStopGrace = std::chrono::seconds(2);
// ...and aborts this much longer to reach their peers.
constexpr auto kAbortGrace = std::chrono::seconds(1);
constexpr auto kReportPeriod = std::chrono::seconds(60);
// What an association's thread needs: the toolkit's parser recurses once per
// nesting level of an identifier (at most IdentifierReader::kMaxItems), TLS
// and the matches' encoding take little. 64 of them stay small this way.
constexpr size_t kWorkerStackBytes = 1024 * 1024;

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

// The toolkit takes a connection accepted elsewhere through one setting for
// the whole process (the socket it reads instead of accepting): one thread
// at a time may use it.
std::mutex& HandoverMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

thread_local AssociationPool::Worker* AssociationPool::t_current = nullptr;

AssociationPool::AssociationPool(FindDispatcher& dispatcher, StepHandler* steps, ActivityLog& log,
                                 const AssociationLimits& limits, const AccessRules& access,
                                 ServiceStatus* status)
    : m_log(log),
      m_limits(limits),
      m_access(access),
      m_context{dispatcher, steps, log, m_limits, m_access, m_stopping, status} {}

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
    // Only the poller accepts, and it must never block in accept().
    ::fcntl(port.socket, F_SETFL, ::fcntl(port.socket, F_GETFL) | O_NONBLOCK);
}

void AssociationPool::StartThreads() {
    for (int i = 0; i < m_limits.maxAssociations; ++i)
        m_workers.push_back(std::make_unique<Worker>());
    m_watchdog = std::make_unique<ConnectionWatchdog>(Slots(), kReportPeriod, [this] { Report(); });
    m_watchdog->Start();
    m_doorkeeper.thread = SizedThread(kWorkerStackBytes, [this] { RunDoorkeeper(); });
    for (auto& worker : m_workers)
        worker->thread =
            SizedThread(kWorkerStackBytes, [this, &worker = *worker] { RunWorker(worker); });
    std::vector<RequestPoller::Listening> listening;
    for (const Endpoint& endpoint : m_endpoints)
        listening.push_back({ListenSocket(endpoint), endpoint.port.secure});
    RequestPoller::Events events;
    events.arrived = [this](const Arrival& arrival) { Arrived(arrival); };
    events.ended = [this] { ++m_unassociated; };
    events.acceptFailed = [this](const QString& why) { NoteAcceptFailure(why); };
    m_poller = std::make_unique<RequestPoller>(
        std::move(listening), std::chrono::seconds(m_limits.associationRequestTimeout), events);
    m_poller->Start();
}

void AssociationPool::Stop() {
    if (m_endpoints.empty()) return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_arrived.notify_all();
    m_changed.notify_all();
    // From here on a new connection is refused by the kernel instead of
    // waiting in the backlog for a poller that will never take it.
    for (const Endpoint& endpoint : m_endpoints) ::shutdown(ListenSocket(endpoint), SHUT_RDWR);
    if (m_poller) m_poller->Stop();
    EndAssociations();
    for (auto& worker : m_workers)
        if (worker->thread.joinable()) worker->thread.join();
    if (m_doorkeeper.thread.joinable()) m_doorkeeper.thread.join();
    if (m_watchdog) m_watchdog->Stop();
    DropWaiting();
    m_poller.reset();
    for (Endpoint& endpoint : m_endpoints) ASC_dropNetwork(&endpoint.network);
    m_endpoints.clear();
    m_workers.clear();
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

// Requests that no worker took before the stop are closed unanswered.
void AssociationPool::DropWaiting() {
    std::lock_guard lock(m_mutex);
    for (const Arrival& arrival : m_waiting) {
        ::close(arrival.socket);
        ++m_unassociated;
    }
    m_waiting.clear();
}

// Poller thread: the request is there; the first free worker takes it.
void AssociationPool::Arrived(const Arrival& arrival) {
    {
        std::lock_guard lock(m_mutex);
        m_waiting.push_back(arrival);
    }
    m_arrived.notify_one();
    m_changed.notify_all();
}

bool AssociationPool::TakeArrival(Arrival& arrival) {
    std::unique_lock lock(m_mutex);
    m_arrived.wait(lock, [this] { return m_stopping.load() || !m_waiting.empty(); });
    if (m_stopping.load()) return false;
    arrival = m_waiting.front();
    m_waiting.pop_front();
    return true;
}

void AssociationPool::RunWorker(Worker& worker) {
    t_current = &worker;
    Arrival arrival;
    while (TakeArrival(arrival)) {
        m_changed.notify_all();
        T_ASC_Association* association = nullptr;
        const OFCondition received = Receive(worker, arrival, association);
        QString ended;
        if (received.good())
            ended = Serve(association, worker);
        else
            NoteUnassociated(m_endpoints[arrival.port], worker, received);
        Finish(worker, association);
        // The end reaches the log once the worker is free again, so a peer
        // that waits for that line finds the worker there.
        if (!ended.isEmpty()) m_log.Log(ended);
    }
}

// The toolkit takes the connection the poller accepted and reads its
// association request (after the TLS handshake on the TLS port); the request
// deadline goes on from where it stood.
OFCondition AssociationPool::Receive(Worker& worker, const Arrival& arrival,
                                     T_ASC_Association*& association) {
    const Endpoint& endpoint = m_endpoints[arrival.port];
    worker.peer = PeerAddressOf(arrival.socket);
    worker.slot.Attach(arrival.socket,
                       std::max<steady_clock::duration>(arrival.timeLeft, kLeastRequestTime));
    std::unique_lock handover(HandoverMutex());
    worker.handover = &handover;
    dcmExternalSocketHandle.set(arrival.socket);
    const OFCondition received =
        ASC_receiveAssociation(endpoint.network, &association, m_limits.maxPduSize, nullptr,
                               nullptr, endpoint.port.secure ? OFTrue : OFFalse, DUL_NOBLOCK, 0);
    worker.handover = nullptr;
    if (handover.owns_lock()) {
        // The toolkit returned before it made a connection of the socket.
        dcmExternalSocketHandle.set(DCMNET_INVALID_SOCKET);
        handover.unlock();
        worker.slot.Detach();
        ::close(arrival.socket);
    }
    return received;
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

// Called by the transport layer on the worker's thread, as the toolkit makes
// a connection of the socket handed to it and before it reads from it (for
// TLS: before the handshake). From here on the toolkit owns the socket.
void AssociationPool::Accepted(DcmNativeSocketType) {
    Worker* worker = t_current;
    if (!worker || !worker->handover || !worker->handover->owns_lock()) return;
    dcmExternalSocketHandle.set(DCMNET_INVALID_SOCKET);
    worker->handover->unlock();
}

void AssociationPool::Finish(Worker& worker, T_ASC_Association*& association) {
    worker.slot.Detach();
    ASC_destroyAssociation(&association);  // closes the connection
}

// A request that has waited kWaitForWorker with every worker busy is
// refused; one that a worker takes meanwhile is served.
void AssociationPool::RunDoorkeeper() {
    t_current = &m_doorkeeper;
    std::unique_lock lock(m_mutex);
    while (!m_stopping.load()) {
        if (m_waiting.empty()) {
            m_changed.wait(lock);
            continue;
        }
        const auto refuseFrom = m_waiting.front().ready + kWaitForWorker;
        if (steady_clock::now() < refuseFrom) {
            m_changed.wait_until(lock, refuseFrom);
            continue;
        }
        const Arrival arrival = m_waiting.front();
        m_waiting.pop_front();
        lock.unlock();
        Refuse(arrival);
        lock.lock();
    }
}

void AssociationPool::Refuse(const Arrival& arrival) {
    T_ASC_Association* association = nullptr;
    const OFCondition received = Receive(m_doorkeeper, arrival, association);
    if (received.good()) {
        T_ASC_RejectParameters rejection{ASC_RESULT_REJECTEDTRANSIENT,
                                         ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                                         ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED};
        ASC_rejectAssociation(association, &rejection);
        ++m_refusedBusy;
    } else {
        NoteUnassociated(m_endpoints[arrival.port], m_doorkeeper, received);
    }
    Finish(m_doorkeeper, association);
}

// Anything that keeps connections from being accepted (no descriptors left,
// for one) is reported with the last reason.
void AssociationPool::NoteAcceptFailure(const QString& why) {
    {
        std::lock_guard lock(m_failureMutex);
        m_lastFailure = why;
    }
    ++m_acceptFailures;
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
