#include "app/HeadlessServer.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

// The log reaches standard output within this time; writing it in batches
// keeps a query over thousands of orders from paying a system call per line.
constexpr int kFlushDelayMs = 50;

}  // namespace

HeadlessServer::HeadlessServer(SettingsStore& store, const QString& homeFolder)
    : m_runtime(store, homeFolder), m_switches(store, m_runtime.Loaded()) {
    m_runtime.Attach(m_switches, *this);
    m_runtime.Log().KeepText(false);
    m_flush.setSingleShot(true);
    m_flush.setInterval(kFlushDelayMs);
    connect(&m_flush, &QTimer::timeout, this, [] { std::fflush(stdout); });
    connect(&m_runtime.Log(), &TextActivityLog::Replacing, this, &HeadlessServer::StartLine);
    connect(&m_runtime.Log(), &TextActivityLog::Written, this, &HeadlessServer::WriteOut);
}

// The runtime outlives the flush timer: nothing it logs while it shuts down
// may reach this object any more.
HeadlessServer::~HeadlessServer() {
    disconnect(&m_runtime.Log(), nullptr, this, nullptr);
    std::fflush(stdout);
}

void HeadlessServer::WriteOut(const QString& piece) {
    QByteArray bytes = piece.toUtf8();
    if (bytes.contains('\r')) bytes.replace("\r\n", "\n");
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    if (!bytes.isEmpty()) m_atLineStart = bytes.endsWith('\n');
    if (!m_flush.isActive()) m_flush.start();
}

// A replaced log starts on a line of its own.
void HeadlessServer::StartLine() {
    if (!m_atLineStart) WriteOut(QStringLiteral("\n"));
}

int HeadlessServer::Run() {
    m_runtime.Load({});
    std::fprintf(stderr, "talvek-mwl: %s\n", qPrintable(m_runtime.ListeningNote()));
    std::fflush(stdout);
    std::fflush(stderr);
    const int status = QCoreApplication::exec();
    m_runtime.Shutdown();
    StartLine();
    return status;
}
