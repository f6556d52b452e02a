#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>

// Lines for the activity log written by the network threads. They reach the
// sink on the service thread (the thread of the context object), in batches;
// Drain() delivers what is still waiting, for the end of a stop, when the
// service thread no longer runs its event loop.
class ActivityPost {
public:
    using Sink = std::function<void(const QString&)>;

    explicit ActivityPost(QObject* serviceContext);

    // Service thread, while no network thread runs.
    void SetSink(Sink sink);
    // Any thread.
    void Post(const QString& line);
    // Service thread.
    void Drain();

private:
    struct Queue {
        std::mutex mutex;
        QStringList lines;
        Sink sink;
    };
    static void Deliver(Queue& queue);

    QPointer<QObject> m_context;
    // Shared with the queued deliveries, which may run after this object is gone.
    std::shared_ptr<Queue> m_queue = std::make_shared<Queue>();
};
