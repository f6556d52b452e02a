#pragma once

#include <dcmtk/dcmnet/assoc.h>

#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/SizedThread.h"
#include "platform/dicom/AccessRules.h"
#include "platform/dicom/AssociationLimits.h"
#include "platform/dicom/RequestPoller.h"
#include "platform/dicom/SocketTuning.h"
#include "platform/dicom/WorkerSlot.h"
#include "platform/dicom/WorklistAssociation.h"

class ActivityLog;
class ConnectionWatchdog;
class FindDispatcher;
class ServiceStatus;
class StepHandler;

// The listening ports (the plain one, the TLS one, or both) and a fixed set
// of worker threads, one per association that may be served at once. The threads are made at start
// and joined at stop: no thread is created or left behind per connection, so a flood of connections
// costs no thread churn and nothing accumulates.
//
// One poller thread accepts every connection and waits, for all of them at
// once, until each one's association request has arrived (RequestPoller);
// a worker takes it from there, so silent or slow peers hold up no worker
// and no modality. A request that finds every worker busy waits up to a few
// seconds of its own for one to come free; a doorkeeper thread then refuses
// it (A-ASSOCIATE-RJ, local limit exceeded).
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

    // steps may be null: performed procedure steps are then not accepted.
    AssociationPool(FindDispatcher& dispatcher, StepHandler* steps, ActivityLog& log,
                    const AssociationLimits& limits, const AccessRules& access,
                    ServiceStatus* status = nullptr);
    ~AssociationPool();

    // Serves the listening sockets and starts the threads; throws MwlError
    // naming the port when one cannot be served.
    void Start(const std::vector<Port>& ports);
    // Refuses new connections at once, gives the answers in progress a short
    // grace, aborts every association still open and joins every thread.
    void Stop();
    bool Running() const { return !m_endpoints.empty(); }

private:
    using Arrival = RequestPoller::Arrival;
    struct Worker {
        WorkerSlot slot;
        SizedThread thread;
        QString peer;  // address of the connection taken last
        // While the toolkit takes over a connection: released once it has.
        std::unique_lock<std::mutex>* handover = nullptr;
    };
    struct Endpoint {
        Port port;
        T_ASC_Network* network = nullptr;
    };

    void RunWorker(Worker& worker);
    void RunDoorkeeper();
    bool TakeArrival(Arrival& arrival);
    void Arrived(const Arrival& arrival);
    void Accepted(DcmNativeSocketType socket);
    void Open(const Port& port);
    OFCondition Receive(Worker& worker, const Arrival& arrival, T_ASC_Association*& association);
    void NoteUnassociated(const Endpoint& endpoint, const Worker& worker,
                          const OFCondition& condition);
    QString Serve(T_ASC_Association* association, Worker& worker);
    void Refuse(const Arrival& arrival);
    void Finish(Worker& worker, T_ASC_Association*& association);
    void NoteAcceptFailure(const QString& why);
    void StartThreads();
    void EndAssociations();
    void DropWaiting();
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
    std::vector<std::unique_ptr<Worker>> m_workers;
    Worker m_doorkeeper;
    std::unique_ptr<RequestPoller> m_poller;
    std::unique_ptr<ConnectionWatchdog> m_watchdog;

    std::mutex m_mutex;
    std::condition_variable m_arrived;  // workers: a request is waiting, or the stop came
    std::condition_variable m_changed;  // doorkeeper: the waiting requests changed
    std::deque<Arrival> m_waiting;      // requests no worker has taken yet, oldest first

    std::atomic<unsigned long long> m_nextId{1};
    std::atomic<unsigned long long> m_unassociated{0};
    std::atomic<unsigned long long> m_refusedBusy{0};
    std::atomic<unsigned long long> m_acceptFailures{0};
    std::atomic<unsigned long long> m_failedHandshakes{0};
    std::mutex m_failureMutex;
    QString m_lastFailure;
    QString m_lastHandshakeFailure;
};
