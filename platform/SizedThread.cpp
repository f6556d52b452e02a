#include "platform/SizedThread.h"

#include <limits.h>

#include <algorithm>
#include <memory>
#include <system_error>
#include <utility>

namespace {

void* Run(void* body) {
    const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
    (*owned)();
    return nullptr;
}

}  // namespace

SizedThread::SizedThread(size_t stackBytes, std::function<void()> body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, std::max<size_t>(stackBytes, PTHREAD_STACK_MIN));
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    const int error = pthread_create(&m_thread, &attributes, Run, owned.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) throw std::system_error(error, std::generic_category(), "pthread_create");
    owned.release();
    m_running = true;
}

SizedThread::SizedThread(SizedThread&& other) noexcept
    : m_thread(other.m_thread), m_running(std::exchange(other.m_running, false)) {}

SizedThread& SizedThread::operator=(SizedThread&& other) noexcept {
    if (this != &other) {
        join();
        m_thread = other.m_thread;
        m_running = std::exchange(other.m_running, false);
    }
    return *this;
}

SizedThread::~SizedThread() { join(); }

void SizedThread::join() {
    if (!m_running) return;
    pthread_join(m_thread, nullptr);
    m_running = false;
}
