#include "app/HangUpSignalWatcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace {

int g_hangUpPipe[2] = {-1, -1};

void OnHangUp(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_hangUpPipe[1], &byte, 1);
}

}  // namespace

void HangUpSignalWatcher::CatchHangUp() {
    if (g_hangUpPipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_hangUpPipe) != 0)
        return;
    // glibc's signal() keeps the handler and restarts interrupted calls.
    std::signal(SIGHUP, OnHangUp);
}

// The handler only writes a byte; the event loop reads it and acts, once for
// however many signals came meanwhile.
HangUpSignalWatcher::HangUpSignalWatcher(std::function<void()> onHangUp, QObject* parent)
    : QObject(parent), m_onHangUp(std::move(onHangUp)) {
    CatchHangUp();
    if (g_hangUpPipe[0] < 0) return;
    auto* notifier = new QSocketNotifier(g_hangUpPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char drained[64];
        while (::read(g_hangUpPipe[0], drained, sizeof drained) > 0) {
        }
        m_onHangUp();
    });
}

// Still ignored after the watcher is gone: the program is then stopping.
HangUpSignalWatcher::~HangUpSignalWatcher() { std::signal(SIGHUP, SIG_IGN); }
