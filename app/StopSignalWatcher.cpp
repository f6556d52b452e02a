#include "app/StopSignalWatcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace {

int g_stopPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stopRequested = 0;

void OnStopSignal(int) {
    g_stopRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
}

void Handle(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void StopSignalWatcher::CatchStopSignals() {
    if (g_stopPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_stopPipe) != 0) return;
    Handle(SIGINT, OnStopSignal);
    Handle(SIGTERM, OnStopSignal);
}

// Signal handlers may only write a byte; the event loop picks it up and quits.
StopSignalWatcher::StopSignalWatcher(QObject* parent) : QObject(parent) {
    CatchStopSignals();
    if (g_stopPipe[0] < 0) return;
    auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] {
        char drained[16];
        [[maybe_unused]] const ssize_t read = ::read(g_stopPipe[0], drained, sizeof drained);
        QCoreApplication::quit();
    });
}

bool StopSignalWatcher::StopRequested() { return g_stopRequested != 0; }

StopSignalWatcher::~StopSignalWatcher() {
    Handle(SIGINT, SIG_DFL);
    Handle(SIGTERM, SIG_DFL);
}
