#include "app/HeadlessServer.h"

#include <QCoreApplication>
#include <cstdio>

HeadlessServer::HeadlessServer(SettingsStore& store, const QString& homeFolder)
    : m_runtime(store, homeFolder), m_switches(store, m_runtime.Loaded()) {
    m_runtime.Attach(m_switches, *this);
    m_runtime.Log().KeepText(false);
    m_runtime.LogOutput().AddStandardOutput();
}

HeadlessServer::~HeadlessServer() = default;

int HeadlessServer::Run() {
    m_runtime.Load({});
    std::fprintf(stderr, "talvek-mwl: %s\n", qPrintable(m_runtime.ListeningNote()));
    std::fflush(stderr);
    const int status = QCoreApplication::exec();
    m_runtime.Shutdown();
    return status;
}
