#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Wakes a function on the service thread (the thread of the context object)
// from any thread, once per Wake(), the way one queued call per Wake() would:
// a wake-up that arrives while the function yields to the event loop runs it
// again, nested. What the function works on travels in the caller's own
// locked queue. The wake-ups are counted in an eventfd instead of Qt's posted
// events: those are handed between threads under a lock inside Qt that race
// detectors cannot see, so every post from a worker looks like a race there.
class ServiceMailbox : public QObject {
    Q_OBJECT
public:
    ServiceMailbox(QObject* serviceContext, std::function<void()> onWake);
    ~ServiceMailbox() override;

    // Any thread.
    void Wake();

private:
    void Deliver();

    const std::function<void()> m_onWake;
    int m_counter = -1;
    QSocketNotifier* m_notifier = nullptr;
};
