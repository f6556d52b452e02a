#include "app/HeadlessServer.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kStatusEveryMs = 60 * 1000;
}  // namespace

HeadlessServer::HeadlessServer(SettingsStore& store, const QString& homeFolder)
    : m_runtime(store, homeFolder) {
    m_runtime.Log().KeepText(false);
    m_runtime.LogOutput().AddStandardOutput();
    connect(&m_signals, &SignalWatcher::StatusRequested, this, &HeadlessServer::LogStatus);
    connect(&m_signals, &SignalWatcher::HangUp, this,
            [this] { m_runtime.LogOutput().ReopenLogFile(); });
    connect(&m_statusMinute, &QTimer::timeout, this, [this] {
        if (m_runtime.Status().Generation() != m_statusLogged) LogStatus();
    });
}

HeadlessServer::~HeadlessServer() = default;

int HeadlessServer::Run() {
    ServerRuntime::LoadHooks hooks;
    hooks.stopRequested = [] { return SignalWatcher::StopRequested(); };
    m_runtime.Load(hooks);
    std::fprintf(stderr, "talvek-mwl: %s\n", qPrintable(m_runtime.ListeningNote()));
    std::fflush(stderr);
    m_statusLogged = m_runtime.Status().Generation();
    m_statusMinute.start(kStatusEveryMs);
    const int status = QCoreApplication::exec();
    if (!m_runtime.Shutdown()) m_runtime.LogOutput().EndNow(status);
    return status;
}

void HeadlessServer::LogStatus() {
    m_statusLogged = m_runtime.Status().Generation();
    m_runtime.LogStatus();
}
