#include "platform/Mailbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>

Mailbox::Mailbox(QObject* context) : m_counter(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    m_notifier = new QSocketNotifier(m_counter, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Mailbox::Deliver);
    if (context && context->thread() != thread()) moveToThread(context->thread());
}

Mailbox::~Mailbox() {
    delete m_notifier;
    ::close(m_counter);
}

// Only the first call into an empty queue wakes the thread: one wake-up
// delivers every call waiting by then.
void Mailbox::Post(std::function<void()> call) {
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        wake = m_calls.empty();
        m_calls.push_back(std::move(call));
    }
    if (wake) ::eventfd_write(m_counter, 1);
}

void Mailbox::Deliver() {
    eventfd_t count = 0;
    ::eventfd_read(m_counter, &count);
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(m_mutex);
        calls.swap(m_calls);
    }
    for (auto& call : calls) call();
}
