#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>

class ServiceMailbox;

// Lines for the activity log written by the network threads. They reach the
// sink on the service thread (the thread of the context object), in batches;
// Drain() delivers what is still waiting, for the end of a stop, when the
// service thread no longer runs its event loop.
class ActivityPost {
public:
    using Sink = std::function<void(const QString&)>;

    explicit ActivityPost(QObject* serviceContext);
    ~ActivityPost();

    // Service thread, while no network thread runs.
    void SetSink(Sink sink);
    // Any thread.
    void Post(const QString& line);
    // Service thread.
    void Drain();

private:
    std::mutex m_mutex;
    QStringList m_lines;
    Sink m_sink;
    std::unique_ptr<ServiceMailbox> m_mailbox;
};
