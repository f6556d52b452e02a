#include "platform/dicom/ConnectionWatchdog.h"

#include "platform/dicom/WorkerSlot.h"

namespace {

constexpr auto kTick = std::chrono::milliseconds(100);

}  // namespace

ConnectionWatchdog::ConnectionWatchdog(std::vector<WorkerSlot*> watched,
                                       std::chrono::seconds period, std::function<void()> periodic)
    : m_slots(std::move(watched)), m_period(period), m_periodic(std::move(periodic)) {}

ConnectionWatchdog::~ConnectionWatchdog() { Stop(); }

void ConnectionWatchdog::Start() {
    m_stopping = false;
    m_thread = std::thread([this] { Run(); });
}

void ConnectionWatchdog::Stop() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void ConnectionWatchdog::Run() {
    auto nextPeriodic = WorkerSlot::Clock::now() + m_period;
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, kTick, [this] { return m_stopping; })) {
        const auto now = WorkerSlot::Clock::now();
        for (WorkerSlot* slot : m_slots) slot->CutIfExpired(now);
        if (now < nextPeriodic) continue;
        nextPeriodic = now + m_period;
        lock.unlock();
        m_periodic();
        lock.lock();
    }
}
