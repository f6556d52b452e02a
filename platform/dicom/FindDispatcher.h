#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dicom/FindChannel.h"

class ServiceMailbox;

// Hands each C-FIND from a worker thread to the handler on the service thread
// (the thread that owns the context object) and makes sure every channel is
// ended: after the handler returns, or at shutdown.
class FindDispatcher {
public:
    using Handler = std::function<void(QueryConnection&)>;

    FindDispatcher(QObject* serviceContext, Handler handler);
    ~FindDispatcher();

    // Accepts queries again after a shutdown.
    void Open();
    // Worker thread.
    void Dispatch(const std::shared_ptr<FindChannel>& channel);
    // Any thread: ends every waiting channel with a failure.
    void Shutdown();

private:
    void RunNext();
    void Run(const std::shared_ptr<FindChannel>& channel);

    QPointer<QObject> m_context;
    Handler m_handler;
    std::mutex m_mutex;
    bool m_closed = false;
    std::vector<std::weak_ptr<FindChannel>> m_waiting;  // every channel not yet ended
    std::deque<std::shared_ptr<FindChannel>> m_queue;   // dispatched, handler not yet run
    std::unique_ptr<ServiceMailbox> m_mailbox;
};
