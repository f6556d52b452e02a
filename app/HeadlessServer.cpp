#include "app/HeadlessServer.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

HeadlessServer::HeadlessServer(SettingsStore& store, const QString& homeFolder)
    : m_runtime(store, homeFolder), m_hangUp([this] { m_runtime.LogOutput().ReopenLogFile(); }) {
    m_runtime.Log().KeepText(false);
    m_runtime.LogOutput().AddStandardOutput();
}

HeadlessServer::~HeadlessServer() = default;

int HeadlessServer::Run() {
    ServerRuntime::LoadHooks hooks;
    hooks.stopRequested = [] { return StopSignalWatcher::StopRequested(); };
    m_runtime.Load(hooks);
    std::fprintf(stderr, "talvek-mwl: %s\n", qPrintable(m_runtime.ListeningNote()));
    std::fflush(stderr);
    const int status = QCoreApplication::exec();
    if (!m_runtime.Shutdown()) m_runtime.LogOutput().EndNow(status);
    return status;
}
