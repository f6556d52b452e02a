#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

// A joinable thread with a stack of the size asked for. std::thread gives
// every thread the process default (8 MiB of address space on Linux), so a
// pool of threads that each need far less would reserve gigabytes between
// them; a pool sizes its threads with this instead.
class SizedThread {
public:
    SizedThread() = default;
    // Throws std::system_error when the thread cannot be made.
    SizedThread(size_t stackBytes, std::function<void()> body);
    SizedThread(SizedThread&& other) noexcept;
    SizedThread& operator=(SizedThread&& other) noexcept;
    SizedThread(const SizedThread&) = delete;
    SizedThread& operator=(const SizedThread&) = delete;
    // Joins a thread that was not joined yet.
    ~SizedThread();

    bool joinable() const { return m_running; }
    void join();

private:
    pthread_t m_thread{};
    bool m_running = false;
};
