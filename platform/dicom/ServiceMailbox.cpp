#include "platform/dicom/ServiceMailbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>

ServiceMailbox::ServiceMailbox(QObject* serviceContext, std::function<void()> onWake)
    : m_onWake(std::move(onWake)), m_counter(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    m_notifier = new QSocketNotifier(m_counter, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ServiceMailbox::Deliver);
    if (serviceContext && serviceContext->thread() != thread())
        moveToThread(serviceContext->thread());
}

ServiceMailbox::~ServiceMailbox() {
    delete m_notifier;
    ::close(m_counter);
}

void ServiceMailbox::Wake() { ::eventfd_write(m_counter, 1); }

// Takes one wake-up and leaves the others counted, so that they are
// delivered one by one, also while the function yields.
void ServiceMailbox::Deliver() {
    eventfd_t count = 0;
    if (::eventfd_read(m_counter, &count) != 0 || count == 0) return;
    if (count > 1) ::eventfd_write(m_counter, count - 1);
    m_onWake();
}
