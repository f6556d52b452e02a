#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/dicom/FindDispatcher.h"

class WorklistScpPool;
class QuickAckTransportLayer;

// The DICOM listener: accepts associations on worker threads (at most 16 at
// once), answers C-ECHO and hands every C-FIND to the handler on the thread of
// the service context.
class WorklistListener {
public:
    using FailureSink = std::function<void(const QString&)>;

    WorklistListener(QObject* serviceContext, FindDispatcher::Handler handler);
    ~WorklistListener();

    // Starts listening on all interfaces and returns once connections are
    // accepted. Throws MwlError naming the port when it cannot be bound. A
    // later failure of the listener goes to the sink, called on the service
    // thread.
    void Start(int port, FailureSink onFailure);
    // Stops accepting, ends waiting queries and joins the threads.
    void Stop();
    bool Listening() const { return m_running.load(); }

private:
    static int ProbePort(int port);
    static void CheckPortFree(int port);
    void WaitUntilListening(int port) const;
    void Configure(int port);

    QObject* m_context;
    FindDispatcher m_dispatcher;
    std::unique_ptr<QuickAckTransportLayer> m_transportLayer;
    std::unique_ptr<WorklistScpPool> m_pool;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};
