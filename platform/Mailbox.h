#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

class QSocketNotifier;

// Runs functions on the thread of a context object, posted from any thread,
// in the order they were posted. The wake-up travels through an eventfd and
// the functions through a queue under a std::mutex, rather than through Qt's
// posted events: those are handed between threads under a lock inside Qt
// that race detectors cannot see, so every post from a worker would look
// like a race there.
class Mailbox : public QObject {
    Q_OBJECT
public:
    explicit Mailbox(QObject* context);
    ~Mailbox() override;

    // Any thread.
    void Post(std::function<void()> call);
    // The context's thread: runs what has been posted so far.
    void Deliver();

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
    int m_counter = -1;
    QSocketNotifier* m_notifier = nullptr;
};
