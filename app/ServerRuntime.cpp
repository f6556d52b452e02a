#include "app/ServerRuntime.h"

#include <QCoreApplication>

#include "app/ConnectionFile.h"
#include "app/NetworkSettings.h"
#include "platform/MwlError.h"
#include "worklist/BaseSql.h"

ServerRuntime::ServerRuntime(SettingsStore& store, QString homeFolder, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_homeFolder(std::move(homeFolder)),
      m_log(m_clock),
      m_options(store),
      m_his(m_log, QString()),
      m_listener(this, [this](QueryConnection& connection) {
          if (m_handler) m_handler->DicomViewer1_QueryRequest(connection);
      }) {}

ServerRuntime::~ServerRuntime() { Shutdown(); }

void ServerRuntime::Attach(Switches& switches, StatusView& status) {
    m_services = std::make_unique<WorklistServices>(
        WorklistServices{m_log, switches, status, m_his, m_store, m_uids, m_clock, m_state});
    m_handler = std::make_unique<QueryHandler>(*m_services);
}

void ServerRuntime::Load(const MessageSink& showMessage) {
    m_options.Load();
    m_loaded.LoadEarly(m_store);
    m_options.SetConnectionMode();
    m_state.ConnectionMode = m_options.ConnectionMode();
    m_log.Replace(QStringLiteral("started..."));
    ReadConnectionString(showMessage);
    m_his.Reopen();
    StartListener(showMessage);
    QCoreApplication::processEvents();
    m_state.BaseSQL = BaseSqlFor(m_state.ConnectionMode);
    m_loaded.LoadLate(m_store);
}

void ServerRuntime::ReadConnectionString(const MessageSink& showMessage) {
    try {
        if (const auto text = ReadINI(m_options, m_homeFolder)) m_his.SetConnectionString(*text);
    } catch (const MwlError& error) {
        m_log.Log(error.Description());
        showMessage(error.Description());
    }
}

// A port that cannot be used leaves the program running, so the operator can
// correct the setting and start again.
void ServerRuntime::StartListener(const MessageSink& showMessage) {
    bool ok = false;
    const qint64 port = m_loaded.portText.toLongLong(&ok);
    try {
        if (!ok || port < 1 || port > 65535)
            throw MwlError(QStringLiteral("Cannot listen on port %1: not a TCP port number.")
                               .arg(m_loaded.portText));
        NetworkSettings network;
        network.Load(m_store);
        for (const QString& problem : network.problems) m_log.Log(problem);
        m_listener.Start(static_cast<int>(port), network.limits,
                         [this](const QString& line) { m_log.Log(line); });
        m_log.Log(network.Description());
        m_port = static_cast<int>(port);
    } catch (const MwlError& error) {
        m_log.Log(error.Description());
        showMessage(error.Description());
    }
}

void ServerRuntime::Shutdown() {
    m_listener.Stop();
    m_handler.reset();
}
