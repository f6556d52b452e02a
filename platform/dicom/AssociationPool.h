#pragma once

#include <dcmtk/dcmnet/assoc.h>

#include <QString>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dicom/AccessRules.h"
#include "platform/dicom/AssociationLimits.h"
#include "platform/dicom/SocketTuning.h"
#include "platform/dicom/WorkerSlot.h"
#include "platform/dicom/WorklistAssociation.h"

class ActivityLog;
class ConnectionWatchdog;
class FindDispatcher;

// The listening ports (the plain one, the TLS one, or both) and a fixed set
// of worker threads, one per association that may be served at once. The threads are made at start
// and joined at stop: no thread is created or left behind per connection, so a flood of connections
// costs no thread churn and nothing accumulates.
//
// The workers take turns at accepting: one waits for a connection; once it
// has one it hands the turn on and then reads the association request
// itself, under a deadline for the whole request, so a silent or slow peer
// holds up nobody else. When every worker is busy, a doorkeeper thread lets
// new peers wait a few seconds for one to come free and then refuses them
// (A-ASSOCIATE-RJ, local limit exceeded) until one does.
class AssociationPool {
public:
    // A listening socket (the pool takes it over), its port, and the
    // transport layer of its connections (not owned; it must outlive the
    // pool).
    struct Port {
        int number = 0;
        int socket = -1;
        AcceptingTransportLayer* transport = nullptr;
        bool secure = false;
    };

    AssociationPool(FindDispatcher& dispatcher, ActivityLog& log, const AssociationLimits& limits,
                    const AccessRules& access);
    ~AssociationPool();

    // Serves the listening sockets and starts the threads; throws MwlError
    // naming the port when one cannot be served.
    void Start(const std::vector<Port>& ports);
    // Refuses new connections at once, gives the answers in progress a short
    // grace, aborts every association still open and joins every thread.
    void Stop();
    bool Running() const { return !m_endpoints.empty(); }

private:
    struct Worker {
        WorkerSlot slot;
        std::thread thread;
        bool hasTurn = false;
        QString peer;  // address of the connection accepted last
    };
    struct Endpoint {
        Port port;
        T_ASC_Network* network = nullptr;
    };

    void RunWorker(Worker& worker);
    void RunDoorkeeper();
    bool TakeTurn(Worker& worker);
    void PassTurn(Worker& worker);
    void Accepted(DcmNativeSocketType socket);
    void Open(const Port& port);
    Endpoint* WaitForConnection(int timeoutMs);
    OFCondition Receive(Endpoint& endpoint, T_ASC_Association*& association);
    void NoteUnassociated(const Endpoint& endpoint, const Worker& worker,
                          const OFCondition& condition);
    QString Serve(T_ASC_Association* association, Worker& worker);
    void RefuseOne(Endpoint& endpoint);
    void Finish(Worker& worker, T_ASC_Association*& association);
    void NoteAcceptFailure(const OFCondition& condition);
    void StartThreads();
    void EndAssociations();
    void Report();
    static int ListenSocket(const Endpoint& endpoint);
    std::vector<WorkerSlot*> Slots();

    static thread_local Worker* t_current;

    ActivityLog& m_log;
    const AssociationLimits m_limits;
    const AccessRules m_access;
    std::atomic<bool> m_stopping{false};
    const AssociationContext m_context;
    std::vector<Endpoint> m_endpoints;
    std::atomic<size_t> m_nextEndpoint{0};  // where the next look for a connection starts
    std::vector<std::unique_ptr<Worker>> m_workers;
    Worker m_doorkeeper;
    std::unique_ptr<ConnectionWatchdog> m_watchdog;

    std::mutex m_mutex;
    std::condition_variable m_turn;     // the turn at accepting is free
    std::condition_variable m_changed;  // the number of busy workers changed
    bool m_turnTaken = false;
    int m_busy = 0;
    std::chrono::steady_clock::time_point m_fullSince;  // every worker busy since

    std::atomic<unsigned long long> m_nextId{1};
    std::atomic<unsigned long long> m_unassociated{0};
    std::atomic<unsigned long long> m_refusedBusy{0};
    std::atomic<unsigned long long> m_acceptFailures{0};
    std::atomic<unsigned long long> m_failedHandshakes{0};
    std::mutex m_failureMutex;
    QString m_lastFailure;
    QString m_lastHandshakeFailure;
};
