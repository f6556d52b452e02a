#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <thread>
#include <unordered_map>
#include <vector>

// Accepts every connection on the listening sockets and watches all of them
// from one thread until each one's association request has arrived whole;
// only then is it handed on to be served. A peer that connects and says
// nothing, or trickles its request in, costs a descriptor and an entry here,
// never a worker, and is closed at the request deadline.
//
// On a plain port a connection is handed on once the whole first PDU is
// there (or its first bytes show it is no association request, or it is too
// long to wait for). On a TLS port the request is encrypted: the connection
// is handed on once the handshake starts, and the worker reads the rest
// under the deadline.
class RequestPoller {
public:
    using Clock = std::chrono::steady_clock;

    struct Listening {
        int socket = -1;
        bool secure = false;
    };
    // A connection whose request has arrived.
    struct Arrival {
        int socket = -1;
        size_t port = 0;             // index into the listening sockets
        Clock::duration timeLeft{};  // of the request deadline, when it arrived
        Clock::time_point ready;     // when it was handed on
    };
    struct Events {
        std::function<void(const Arrival&)> arrived;
        // A connection closed here without its request: it closed, it missed
        // the deadline, or it made room for a newer one.
        std::function<void()> ended;
        // accept(2) failed (no descriptors left, for one).
        std::function<void(const QString&)> acceptFailed;
    };

    RequestPoller(std::vector<Listening> listening, std::chrono::seconds requestTime,
                  Events events);
    ~RequestPoller();
    RequestPoller(const RequestPoller&) = delete;
    RequestPoller& operator=(const RequestPoller&) = delete;

    // Throws std::system_error when the poller cannot be set up.
    void Start();
    // Closes every connection still waiting (each an ended one) and joins.
    void Stop();

    // The most connections waiting at once; beyond it the one that has
    // waited longest makes room (a real peer sends its request at once).
    static constexpr size_t kMaxWaiting = 512;
    // A first PDU claiming more than this is handed on once its header is
    // there: the socket's receive buffer might never hold all of it.
    static constexpr uint32_t kMaxWaitedPdu = 64 * 1024;

private:
    struct Waiting {
        uint64_t id = 0;
        size_t port = 0;
        Clock::time_point deadline;
    };
    enum class Progress { Waiting, Ready, Gone };

    void Run();
    void AcceptAll(size_t port);
    void Watch(int socket, size_t port);
    void Look(int socket, bool hangUp);
    Progress ProgressOf(int socket, bool secure, bool hangUp) const;
    void Forget(int socket);
    void Close(int socket);
    void ExpireDue(Clock::time_point now);
    int WaitMs(Clock::time_point now) const;
    void CloseAll();

    const std::vector<Listening> m_listening;
    const std::chrono::seconds m_requestTime;
    const Events m_events;
    int m_epoll = -1;
    int m_wake = -1;
    std::thread m_thread;
    // Poller thread only.
    std::unordered_map<int, Waiting> m_waiting;    // by socket
    std::deque<std::pair<uint64_t, int>> m_byAge;  // (id, socket), oldest first
    uint64_t m_nextId = 1;
};
