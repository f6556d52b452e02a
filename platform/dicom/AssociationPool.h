#pragma once

#include <dcmtk/dcmnet/assoc.h>

#include <QString>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dicom/AssociationLimits.h"
#include "platform/dicom/SocketTuning.h"
#include "platform/dicom/WorkerSlot.h"
#include "platform/dicom/WorklistAssociation.h"

class ActivityPost;
class ConnectionWatchdog;
class FindDispatcher;

// The listening port and a fixed set of worker threads, one per association
// that may be served at once. The threads are made at start and joined at
// stop: no thread is created or left behind per connection, so a flood of
// connections costs no thread churn and nothing accumulates.
//
// The workers take turns at accepting: one waits for a connection; once it
// has one it hands the turn on and then reads the association request
// itself, under a deadline for the whole request, so a silent or slow peer
// holds up nobody else. When every worker is busy, a doorkeeper thread lets
// new peers wait a few seconds for one to come free and then refuses them
// (A-ASSOCIATE-RJ, local limit exceeded) until one does.
class AssociationPool {
public:
    AssociationPool(FindDispatcher& dispatcher, ActivityPost& log, const AssociationLimits& limits);
    ~AssociationPool();

    // Opens the port on all interfaces and starts the threads; throws
    // MwlError naming the port when it cannot be opened.
    void Start(int port);
    // Refuses new connections at once, gives the answers in progress a short
    // grace, aborts every association still open and joins every thread.
    void Stop();
    bool Running() const { return m_network != nullptr; }

private:
    struct Worker {
        WorkerSlot slot;
        std::thread thread;
        bool hasTurn = false;
    };

    void RunWorker(Worker& worker);
    void RunDoorkeeper();
    bool TakeTurn(Worker& worker);
    void PassTurn(Worker& worker);
    void Accepted(DcmNativeSocketType socket);
    QString Serve(T_ASC_Association* association, WorkerSlot& slot);
    bool ConnectionWaiting() const;
    void RefuseOne();
    void Finish(Worker& worker, T_ASC_Association*& association);
    void NoteAcceptFailure(const OFCondition& condition);
    void StartThreads();
    void EndAssociations();
    void Report();
    int ListenSocket() const;
    std::vector<WorkerSlot*> Slots();

    static thread_local Worker* t_current;

    ActivityPost& m_log;
    const AssociationLimits m_limits;
    std::atomic<bool> m_stopping{false};
    const AssociationContext m_context;
    QuickAckTransportLayer m_transport;
    T_ASC_Network* m_network = nullptr;
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
    std::mutex m_failureMutex;
    QString m_lastFailure;
};
