#include "platform/dicom/WorkerSlot.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

int Bits(int how) {
    if (how == SHUT_RD) return 1;
    if (how == SHUT_WR) return 2;
    return 3;
}

}  // namespace

void WorkerSlot::Attach(int socket, Clock::duration requestTime) {
    {
        std::lock_guard lock(m_mutex);
        m_socket = socket;
        m_interrupted = 0;
    }
    m_timedOut = false;
    m_phase = Phase::Request;
    SetDeadline(requestTime);
}

void WorkerSlot::Detach() {
    std::lock_guard lock(m_mutex);
    m_socket = -1;
    m_deadline = 0;
    m_phase = Phase::Free;
}

bool WorkerSlot::Attached() const {
    std::lock_guard lock(m_mutex);
    return m_socket >= 0;
}

void WorkerSlot::SetDeadline(Clock::duration time) {
    m_deadline.store(Ticks(Clock::now() + time), std::memory_order_relaxed);
}

bool WorkerSlot::TimedOut() const {
    const long long deadline = m_deadline.load(std::memory_order_relaxed);
    return m_timedOut.load() || (deadline != 0 && Ticks(Clock::now()) >= deadline);
}

void WorkerSlot::CutIfExpired(Clock::time_point now) {
    const long long deadline = m_deadline.load(std::memory_order_relaxed);
    if (deadline == 0 || Ticks(now) < deadline) return;
    std::lock_guard lock(m_mutex);
    if (m_socket < 0 || m_interrupted == Bits(SHUT_RDWR)) return;
    m_timedOut = true;
    ::shutdown(m_socket, SHUT_RDWR);
    m_interrupted = Bits(SHUT_RDWR);
}

int WorkerSlot::UnsentBytes() const {
    std::lock_guard lock(m_mutex);
    int unsent = 0;
    if (m_socket < 0 || ::ioctl(m_socket, SIOCOUTQ, &unsent) != 0) return 0;
    return unsent;
}

void WorkerSlot::Interrupt(int how) {
    std::lock_guard lock(m_mutex);
    if (m_socket < 0 || (m_interrupted & Bits(how)) == Bits(how)) return;
    ::shutdown(m_socket, how);
    m_interrupted |= Bits(how);
}
