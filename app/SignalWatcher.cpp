#include "app/SignalWatcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace {

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stopRequested = 0;

constexpr char kStop = 's';
constexpr char kStatus = 'u';
constexpr char kHangUp = 'h';

void Tell(char byte) { [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1); }

void OnStopSignal(int) {
    g_stopRequested = 1;
    Tell(kStop);
}

void OnStatusSignal(int) { Tell(kStatus); }

void OnHangUpSignal(int) { Tell(kHangUp); }

void Handle(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void SignalWatcher::CatchSignals() {
    if (g_signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    Handle(SIGINT, OnStopSignal);
    Handle(SIGTERM, OnStopSignal);
    // Its default action would end the process.
    Handle(SIGUSR1, OnStatusSignal);
    Handle(SIGHUP, OnHangUpSignal);
}

// Signal handlers may only write a byte; the event loop picks it up.
SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    CatchSignals();
    if (g_signalPipe[0] < 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char received[16];
        const ssize_t count = ::read(g_signalPipe[0], received, sizeof received);
        bool stop = false;
        bool status = false;
        bool hangUp = false;
        for (ssize_t i = 0; i < count; ++i) {
            stop = stop || received[i] == kStop;
            status = status || received[i] == kStatus;
            hangUp = hangUp || received[i] == kHangUp;
        }
        if (hangUp) emit HangUp();
        if (status) emit StatusRequested();
        if (stop) QCoreApplication::quit();
    });
}

bool SignalWatcher::StopRequested() { return g_stopRequested != 0; }

SignalWatcher::~SignalWatcher() {
    Handle(SIGINT, SIG_DFL);
    Handle(SIGTERM, SIG_DFL);
    // Still not an end: the program is stopping by then.
    Handle(SIGHUP, SIG_IGN);
}
