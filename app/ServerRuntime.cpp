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
      m_logOutputs(m_log),
      m_options(store),
      m_his(m_log, QString()),
      m_listener(this, [this](QueryConnection& connection) {
          if (m_handler) m_handler->DicomViewer1_QueryRequest(connection);
      }) {
    m_his.SetConnectionStringSource([this] { return ReadINI(m_options, m_homeFolder); });
}

ServerRuntime::~ServerRuntime() { Shutdown(); }

void ServerRuntime::Attach(Switches& switches, StatusView& status) {
    m_services = std::make_unique<WorklistServices>(
        WorklistServices{m_log, switches, status, m_his, m_store, m_uids, m_clock, m_state});
    m_handler = std::make_unique<QueryHandler>(*m_services);
}

void ServerRuntime::Load(const LoadHooks& hooks) {
    m_options.Load();
    m_loaded.LoadEarly(m_store);
    m_options.SetConnectionMode();
    m_state.ConnectionMode = m_options.ConnectionMode();
    hooks.settingsRestored();
    const QStringList logFile = m_logOutputs.OpenLogFile(m_store);
    LoadNetworkSettings();
    m_log.Replace(QStringLiteral("started..."));
    for (const QString& line : logFile) m_log.Log(line);
    ReadConnectionString(hooks.showMessage);
    m_his.SetQueryTimeout(m_loaded.queryTimeoutSeconds);
    m_his.Reopen();
    m_state.BaseSQL = BaseSqlFor(m_state.ConnectionMode);
    m_loaded.LoadLate(m_store);
    hooks.servicePrepared();
    StartListener(hooks.showMessage);
    // Lets the window paint, and a query that is already waiting run.
    QCoreApplication::processEvents();
}

void ServerRuntime::ChangeMode(ModeOptions::Option option, const MessageSink& showMessage) {
    m_options.Click(option);
    m_state.ConnectionMode = m_options.ConnectionMode();
    m_state.BaseSQL = BaseSqlFor(m_state.ConnectionMode);
    // The new mode never runs on the old mode's database: without a readable
    // file of its own it has no connection.
    m_his.Close();
    m_his.SetConnectionString(QString());
    ReadConnectionString(showMessage);
    m_his.Reopen();
    m_log.Log(QStringLiteral("Connection mode changed to %1 (%2).")
                  .arg(m_state.ConnectionMode, m_his.IsOpen()
                                                   ? QStringLiteral("HIS connection reopened")
                                                   : QStringLiteral("no HIS connection")));
}

// Logged before the log starts afresh: the window then reads "started..."
// alone, while standard output and the log file keep the listener's limits
// and what the security settings put in force.
void ServerRuntime::LoadNetworkSettings() {
    m_network.Load(m_store);
    for (const QString& problem : m_network.problems) m_log.Log(problem);
    m_log.Log(m_network.Description());
    m_security.Load(m_store);
    for (const QString& problem : m_security.problems) m_log.Log(problem);
    m_log.Log(m_security.Description());
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
// correct the setting and start again; the TLS port and the plain port serve
// without each other.
void ServerRuntime::StartListener(const MessageSink& showMessage) {
    bool ok = false;
    const qint64 port = m_loaded.portText.toLongLong(&ok);
    ListenerSecurity security = m_security.listener;
    if (security.plainPortEnabled && (!ok || port < 1 || port > 65535)) {
        Report(QStringLiteral("Cannot listen on port %1: not a TCP port number.")
                   .arg(m_loaded.portText),
               showMessage);
        if (security.tls.port == 0) return;
        security.plainPortEnabled = false;
    }
    try {
        const WorklistListener::Started started = m_listener.Start(
            static_cast<int>(port), m_network.limits,
            [this](const QString& line) { m_log.Log(line); }, security);
        for (const QString& note : started.notes) m_log.Log(note);
        for (const QString& problem : started.problems) Report(problem, showMessage);
        m_port = m_listener.PlainPort();
    } catch (const MwlError& error) {
        Report(error.Description(), showMessage);
    }
}

void ServerRuntime::Report(const QString& problem, const MessageSink& showMessage) {
    m_log.Log(problem);
    showMessage(problem);
}

QString ServerRuntime::ListeningNote() const {
    if (!Listening()) return QStringLiteral("not listening; see the activity log");
    QStringList ports;
    if (const int plain = m_listener.PlainPort()) ports << QStringLiteral("port %1").arg(plain);
    if (const int tls = m_listener.TlsPort()) ports << QStringLiteral("port %1 (TLS)").arg(tls);
    return QStringLiteral("listening on ") + ports.join(QStringLiteral(" and on "));
}

void ServerRuntime::Shutdown() {
    m_listener.Stop();
    m_handler.reset();
}
