#include "app/ServerRuntime.h"

#include "app/ConnectionFile.h"
#include "app/StoredSwitches.h"
#include "platform/MwlError.h"
#include "platform/his/OdbcConnectionString.h"
#include "platform/his/OdbcHisConnection.h"
#include "worklist/QueryHandler.h"
#include "worklist/SourceFor.h"

namespace {
// After the listener's own stop (answers in flight get two seconds), how long
// the query workers may take to return.
constexpr auto kWorkersJoinWait = std::chrono::milliseconds(700);
}  // namespace

ServerRuntime::ServerRuntime(SettingsStore& store, QString homeFolder, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_homeFolder(std::move(homeFolder)),
      m_log(m_clock),
      m_logOutputs(m_log),
      m_options(store),
      m_watch(m_log),
      m_queries(m_log),
      m_listener(m_queries, m_log) {}

ServerRuntime::~ServerRuntime() { Shutdown(); }

void ServerRuntime::Load(const LoadHooks& hooks) {
    m_options.Load();
    m_loaded.LoadEarly(m_store);
    m_options.SetConnectionMode();
    hooks.settingsRestored();
    const QStringList logFile = m_logOutputs.OpenLogFile(m_store);
    LoadNetworkSettings();
    m_log.Replace(QStringLiteral("started..."));
    for (const QString& line : logFile) m_log.Log(line);
    PublishMode(hooks.showMessage);
    m_loaded.LoadLate(m_store);
    hooks.servicePrepared();
    const Switches switches =
        hooks.switches ? hooks.switches() : StoredSwitches(m_store, m_loaded);
    m_settings.Change([&](QuerySnapshot& snapshot) {
        snapshot.resultLimitText = m_loaded.resultNumber;
        snapshot.switches = switches;
    });
    if (hooks.stopRequested()) {
        m_log.Log(QStringLiteral("Stopped before the service started."));
        return;
    }
    StartQueries();
    StartListener(hooks.showMessage);
}

// The mode, its connection string and its base statement, as one change of
// the snapshot; a connection-string file that cannot be read leaves the mode
// without a database (never the previous mode's).
void ServerRuntime::PublishMode(const MessageSink& showMessage) {
    const ConnectionMode mode = m_options.ConnectionMode();
    QString connectionString;
    try {
        connectionString = ReadINI(mode, m_homeFolder).value_or(QString());
    } catch (const MwlError& error) {
        Report(error.Description(), showMessage);
    }
    const WorklistSource& source = SourceFor(mode);
    const QString base =
        source.BaseStatement(source.DialectOf(OdbcConnectionString(connectionString).Dialect()));
    m_settings.Change([&](QuerySnapshot& snapshot) {
        snapshot.mode = mode;
        snapshot.connectionString = connectionString;
        ++snapshot.connectionGeneration;
        snapshot.BaseSQL = base;
    });
}

void ServerRuntime::ChangeMode(ModeOptions::Option option, const MessageSink& showMessage) {
    m_options.Click(option);
    PublishMode(showMessage);
    const QString name = SourceFor(m_options.ConnectionMode()).Name();
    m_queries.Post([this, name](QueryWorker& worker, const QueryBudget& budget) {
        const bool open = worker.OpenHis(budget);
        m_log.Log(QStringLiteral("Connection mode changed to %1 (%2).")
                      .arg(name, open ? QStringLiteral("HIS connection reopened")
                                      : QStringLiteral("no HIS connection")));
    });
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
    for (const QString& problem : m_loaded.problems) m_log.Log(problem);
    m_log.Log(QStringLiteral("HIS queries: %1 at once (QueryWorkers), each within %2 s "
                             "(QueryTimeoutSeconds)")
                  .arg(m_loaded.queryWorkers)
                  .arg(QueryTimeoutSeconds()));
}

int ServerRuntime::QueryTimeoutSeconds() const {
    return m_loaded.queryTimeoutSeconds > 0 ? m_loaded.queryTimeoutSeconds
                                            : OdbcHisConnection::kDefaultQueryTimeoutSeconds;
}

std::unique_ptr<HisConnection> ServerRuntime::MakeHisConnection() {
    auto his = std::make_unique<OdbcHisConnection>(m_log, QString(), &m_watch);
    his->SetQueryTimeout(QueryTimeoutSeconds());
    // A connection that is not open reads its mode's file again first.
    his->SetConnectionStringSource(
        [this] { return ReadINI(m_settings.Current()->mode, m_homeFolder); });
    return his;
}

// Each worker is made on its own thread, with its own HIS connection; the
// first free one opens its connection at once, as the load has always done.
void ServerRuntime::StartQueries() {
    FindDispatcher::Options options;
    options.workers = m_loaded.queryWorkers;
    options.budget = std::chrono::seconds(QueryTimeoutSeconds());
    options.onArrival = [this] { m_status->SetCommState(QStringLiteral("Communicating...")); };
    const QueryHandler::Shared shared{m_log,    m_settings,      m_uids,      m_clock,
                                      *m_status, m_studyUidLocks, m_orderFiles};
    m_queries.Start(options, [this, shared] {
        return std::make_unique<QueryHandler>(MakeHisConnection(), shared);
    });
    m_queries.Post([](QueryWorker& worker, const QueryBudget& budget) { worker.OpenHis(budget); });
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
            static_cast<int>(port), m_network.limits, security, m_network.addresses);
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

bool ServerRuntime::Shutdown() {
    if (m_shutDown) return m_cleanStop;
    m_shutDown = true;
    m_queries.BeginStop();
    m_watch.CancelAll();
    m_listener.Stop();
    m_cleanStop = m_queries.Join(kWorkersJoinWait);
    return m_cleanStop;
}
