#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "platform/dicom/ActivityPost.h"
#include "platform/dicom/AssociationLimits.h"
#include "platform/dicom/FindDispatcher.h"

class AssociationPool;

// The DICOM listener: serves associations on worker threads (as many at once
// as the limits allow), answers C-ECHO and hands every C-FIND to the handler
// on the thread of the service context.
class WorklistListener {
public:
    using LogSink = std::function<void(const QString&)>;

    WorklistListener(QObject* serviceContext, FindDispatcher::Handler handler);
    ~WorklistListener();

    // Starts listening on all interfaces and returns once connections are
    // accepted. Throws MwlError naming the port when it cannot be bound.
    // Each association and its end, and counts of connections that never
    // became one, go to the sink, called on the service thread.
    void Start(int port, const AssociationLimits& limits, LogSink log);
    // Refuses new connections at once, gives answers in progress two seconds,
    // aborts the associations still open and joins every thread; the lines
    // still waiting for the log are written before it returns. Call it on the
    // service thread.
    void Stop();
    bool Listening() const;

private:
    static int ProbePort(int port);
    static void CheckPortFree(int port);

    FindDispatcher m_dispatcher;
    ActivityPost m_log;
    std::unique_ptr<AssociationPool> m_pool;
};
