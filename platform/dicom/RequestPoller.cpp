#include "platform/dicom/RequestPoller.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

constexpr uint64_t kWakeTag = ~uint64_t{0};
constexpr uint64_t kListeningTag = uint64_t{1} << 62;
// Connections taken from one port before the others get their turn.
constexpr int kAcceptsPerRound = 64;
// The longest sleep; deadlines and the stop wake it sooner.
constexpr int kMaxWaitMs = 1000;
// After accept(2) failed for want of descriptors, before the next try.
constexpr auto kAcceptBackOff = std::chrono::milliseconds(100);
constexpr unsigned char kAssociateRequest = 0x01;
constexpr int kPduHeader = 6;

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

void Throw(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

RequestPoller::RequestPoller(std::vector<Listening> listening, std::chrono::seconds requestTime,
                             Events events)
    : m_listening(std::move(listening)), m_requestTime(requestTime), m_events(std::move(events)) {}

RequestPoller::~RequestPoller() {
    Stop();
    if (m_wake >= 0) ::close(m_wake);
    if (m_epoll >= 0) ::close(m_epoll);
}

void RequestPoller::Start() {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) Throw("epoll_create1");
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0) Throw("eventfd");
    epoll_event wake{EPOLLIN, {.u64 = kWakeTag}};
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &wake) != 0) Throw("epoll_ctl");
    for (size_t port = 0; port < m_listening.size(); ++port) {
        epoll_event listening{EPOLLIN, {.u64 = kListeningTag | port}};
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listening[port].socket, &listening) != 0)
            Throw("epoll_ctl");
    }
    m_thread = std::thread([this] { Run(); });
}

void RequestPoller::Stop() {
    if (!m_thread.joinable()) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    CloseAll();
}

void RequestPoller::Run() {
    epoll_event ready[64];
    for (;;) {
        const int count = ::epoll_wait(m_epoll, ready, std::size(ready), WaitMs(Clock::now()));
        if (count < 0 && errno != EINTR) return;
        for (int i = 0; i < count; ++i) {
            const uint64_t tag = ready[i].data.u64;
            if (tag == kWakeTag) return;
            if (tag & kListeningTag)
                AcceptAll(static_cast<size_t>(tag & ~kListeningTag));
            else
                Look(static_cast<int>(tag), ready[i].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR));
        }
        ExpireDue(Clock::now());
    }
}

void RequestPoller::AcceptAll(size_t port) {
    for (int round = 0; round < kAcceptsPerRound; ++round) {
        const int socket =
            ::accept4(m_listening[port].socket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket >= 0) {
            Watch(socket, port);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED) continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINVAL) return;
        m_events.acceptFailed(Reason(error));
        std::this_thread::sleep_for(kAcceptBackOff);
        return;
    }
}

void RequestPoller::Watch(int socket, size_t port) {
    while (m_waiting.size() >= kMaxWaiting && !m_byAge.empty()) {
        const auto [id, oldest] = m_byAge.front();
        m_byAge.pop_front();
        const auto found = m_waiting.find(oldest);
        if (found != m_waiting.end() && found->second.id == id) Close(oldest);
    }
    const uint64_t id = m_nextId++;
    m_waiting[socket] = Waiting{id, port, Clock::now() + m_requestTime};
    m_byAge.emplace_back(id, socket);
    // Edge-triggered: each arrival of bytes wakes the poller once, so a
    // request that is not whole yet is not looked at again until more comes.
    epoll_event event{EPOLLIN | EPOLLRDHUP | EPOLLET, {.u64 = static_cast<uint64_t>(socket)}};
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, socket, &event) != 0) {
        Close(socket);
        return;
    }
    Look(socket, false);
}

void RequestPoller::Look(int socket, bool hangUp) {
    const auto found = m_waiting.find(socket);
    if (found == m_waiting.end()) return;
    const Progress progress = ProgressOf(socket, m_listening[found->second.port].secure, hangUp);
    if (progress == Progress::Waiting) return;
    if (progress == Progress::Gone) {
        Close(socket);
        return;
    }
    const auto now = Clock::now();
    const Arrival arrival{socket, found->second.port, found->second.deadline - now, now};
    Forget(socket);
    // The toolkit reads and writes it blocking, under its own time-outs.
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) & ~O_NONBLOCK);
    m_events.arrived(arrival);
}

RequestPoller::Progress RequestPoller::ProgressOf(int socket, bool secure, bool hangUp) const {
    int available = 0;
    if (::ioctl(socket, FIONREAD, &available) != 0) return Progress::Gone;
    if (secure && available > 0) return Progress::Ready;
    if (!secure && available >= kPduHeader) {
        unsigned char head[kPduHeader];
        if (::recv(socket, head, sizeof head, MSG_PEEK) != kPduHeader) return Progress::Gone;
        const uint32_t length = (uint32_t{head[2]} << 24) | (uint32_t{head[3]} << 16) |
                                (uint32_t{head[4]} << 8) | uint32_t{head[5]};
        // Anything but an association request is the toolkit's to refuse.
        if (head[0] != kAssociateRequest || length > kMaxWaitedPdu ||
            static_cast<uint32_t>(available - kPduHeader) >= length)
            return Progress::Ready;
    }
    return hangUp ? Progress::Gone : Progress::Waiting;
}

void RequestPoller::Forget(int socket) {
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, socket, nullptr);
    m_waiting.erase(socket);
}

void RequestPoller::Close(int socket) {
    Forget(socket);
    ::close(socket);
    m_events.ended();
}

void RequestPoller::ExpireDue(Clock::time_point now) {
    while (!m_byAge.empty()) {
        const auto [id, socket] = m_byAge.front();
        const auto found = m_waiting.find(socket);
        if (found != m_waiting.end() && found->second.id == id) {
            if (found->second.deadline > now) return;
            Close(socket);
        }
        m_byAge.pop_front();
    }
}

int RequestPoller::WaitMs(Clock::time_point now) const {
    if (m_byAge.empty()) return kMaxWaitMs;
    const auto [id, socket] = m_byAge.front();
    const auto found = m_waiting.find(socket);
    // Gone already: the front is cleared at once.
    if (found == m_waiting.end() || found->second.id != id) return 0;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(found->second.deadline - now).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, kMaxWaitMs));
}

void RequestPoller::CloseAll() {
    std::vector<int> sockets;
    for (const auto& [socket, waiting] : m_waiting) sockets.push_back(socket);
    for (const int socket : sockets) Close(socket);
    m_byAge.clear();
}
