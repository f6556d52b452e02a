#include "app/ServerRuntime.h"

#include <QFileInfo>

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
constexpr auto kWorkersJoinWait = std::chrono::milliseconds(1000);
constexpr int kStatusNoticeMs = 1000;
}  // namespace

ServerRuntime::ServerRuntime(SettingsStore& store, QString homeFolder, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_homeFolder(std::move(homeFolder)),
      m_log(m_clock),
      m_serviceStatus(m_clock),
      m_notifier(SystemdNotifier::FromEnvironment()),
      m_logOutputs(m_log),
      m_options(store),
      m_watch(m_log, &m_serviceStatus),
      m_queries(m_log),
      m_steps({m_log, m_settings, m_orderFiles, m_uids, m_clock},
              {[this](const QString& text) { return MakeJournalConnection(text); },
               [this] { return MakeHisConnection(); }}),
      m_listener(m_queries, m_log, &m_serviceStatus) {
    m_listener.SetStepHandler(&m_steps);
    if (!m_notifier.Active()) return;
    m_statusNotice.setSingleShot(true);
    m_statusNotice.setInterval(kStatusNoticeMs);
    connect(&m_statusNotice, &QTimer::timeout, this, &ServerRuntime::TellStatus);
    connect(&m_serviceStatus, &ServiceStatus::Changed, this, [this] {
        if (!m_statusNotice.isActive()) m_statusNotice.start();
    });
}

ServerRuntime::~ServerRuntime() { Shutdown(); }

void ServerRuntime::Load(const LoadHooks& hooks) {
    m_options.Load();
    m_loaded.LoadEarly(m_store);
    m_options.SetConnectionMode();
    hooks.settingsRestored();
    const QStringList logFile = m_logOutputs.OpenLogFile(m_store);
    LoadNetworkSettings();
    m_log.Replace(QStringLiteral("started..."));
    LogSettingsFiles();
    for (const QString& line : logFile) m_log.Log(line);
    PublishMode(hooks.showMessage);
    for (const QString& problem : m_loaded.LoadLate(m_store)) Report(problem, hooks.showMessage);
    hooks.servicePrepared();
    const Switches switches =
        hooks.switches ? hooks.switches() : StoredSwitches(m_store, m_loaded);
    CheckStudyUidSwitch(switches.generateStudyUid, hooks.showMessage);
    m_settings.Change([&](QuerySnapshot& snapshot) {
        snapshot.resultLimitText = m_loaded.resultNumber;
        snapshot.switches = switches;
    });
    if (hooks.stopRequested()) {
        m_log.Log(QStringLiteral("Stopped before the service started."));
        return;
    }
    StartQueries();
    StartSteps();
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
    m_serviceStatus.HisExpected(!source.ConnectionFile().isEmpty());
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
    CheckStudyUidSwitch(m_settings.Current()->switches.generateStudyUid, showMessage);
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
    m_mpps.Load(m_store, m_homeFolder);
    for (const QString& problem : m_mpps.problems) m_log.Log(problem);
    m_log.Log(m_mpps.Description());
}

// Every database mode's Study UID step names TALVEK's request tables; only
// the modes whose HIS has them can keep the switch on.
void ServerRuntime::CheckStudyUidSwitch(bool ticked, const MessageSink& showMessage) {
    const WorklistSource& source = SourceFor(m_options.ConnectionMode());
    if (!ticked || source.ConnectionFile().isEmpty() || source.HasTalvekRequestTables()) return;
    Report(QStringLiteral("Generate Study UID is ticked, but the %1 HIS has no TALVEK request "
                          "tables: every query with an order fails while it stays ticked.")
               .arg(source.Name()),
           showMessage);
}

// Which file the settings come from, so an operator who edits another one
// learns why nothing changes; and each file that could not be read.
void ServerRuntime::LogSettingsFiles() {
    const QStringList applications = StartupSettings::Applications();
    const QString main = m_store.Location(applications.front());
    if (!main.isEmpty())
        m_log.Log(QFileInfo::exists(main)
                      ? QStringLiteral("Settings file: %1").arg(main)
                      : QStringLiteral("Settings file: %1 (not there: every setting has its "
                                       "default)")
                            .arg(main));
    for (const QString& application : applications)
        if (const auto why = m_store.Problem(application))
            m_log.Log(QStringLiteral("Settings file %1 cannot be read: %2. What could not be read "
                                     "from it has its default, and nothing is saved to it until "
                                     "it is corrected.")
                          .arg(m_store.Location(application), *why));
}

int ServerRuntime::QueryTimeoutSeconds() const {
    return m_loaded.queryTimeoutSeconds > 0 ? m_loaded.queryTimeoutSeconds
                                            : OdbcHisConnection::kDefaultQueryTimeoutSeconds;
}

std::unique_ptr<HisConnection> ServerRuntime::MakeHisConnection() { return MakeOdbcConnection(); }

std::unique_ptr<OdbcHisConnection> ServerRuntime::MakeOdbcConnection() {
    auto his = std::make_unique<OdbcHisConnection>(m_log, QString(), &m_watch);
    // Every call it makes is under a query's or a tool's budget. Not open, it
    // reads its mode's file again first.
    his->SetConnectionStringSource(
        [this] { return ReadINI(m_settings.Current()->mode, m_homeFolder); });
    return his;
}

// The journal's connections carry the HIS budget and are cancelled at a stop
// like the HIS's.
std::unique_ptr<HisConnection> ServerRuntime::MakeJournalConnection(const QString& connectionString) {
    auto journal = std::make_unique<OdbcHisConnection>(m_log, connectionString, &m_watch);
    journal->SetQueryTimeout(QueryTimeoutSeconds());
    return journal;
}

// Its threads make their journal and HIS connections themselves.
void ServerRuntime::StartSteps() {
    m_steps.Start(m_mpps.steps, std::chrono::seconds(QueryTimeoutSeconds()));
}

// Each worker is made on its own thread, with its own HIS connection; the
// first free one opens its connection at once, as the load has always done.
void ServerRuntime::StartQueries() {
    FindDispatcher::Options options;
    options.workers = m_loaded.queryWorkers;
    options.budget = std::chrono::seconds(QueryTimeoutSeconds());
    options.onArrival = [this] { m_status->SetCommState(QStringLiteral("Communicating...")); };
    // Twice within the manager's time, as it asks.
    options.aliveEvery =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_notifier.WatchdogTime() / 2);
    options.onAlive = [this] { m_notifier.Watchdog(); };
    const QueryHandler::Shared shared{m_log,    m_settings,      m_uids,      m_clock,
                                      *m_status, m_studyUidLocks, m_orderFiles};
    m_queries.Start(options, [this, shared] {
        auto his = MakeOdbcConnection();
        his->SetStatus(&m_serviceStatus);
        return std::make_unique<QueryHandler>(std::move(his), shared);
    });
    m_queries.Post([](QueryWorker& worker, const QueryBudget& budget) { worker.OpenHis(budget); });
}

// A port that cannot be used leaves the program running, so the operator can
// correct the setting and start again; the TLS port and the plain port serve
// without each other.
void ServerRuntime::StartListener(const MessageSink& showMessage) {
    QStringList problems;
    const auto report = [&](const QString& problem) {
        problems << problem;
        Report(problem, showMessage);
    };
    bool ok = false;
    const qint64 port = m_loaded.portText.toLongLong(&ok);
    ListenerSecurity security = m_security.listener;
    const bool badPort = security.plainPortEnabled && (!ok || port < 1 || port > 65535);
    if (badPort) {
        report(QStringLiteral("Cannot listen on port \"%1\" (WorklistPort): not a TCP port "
                              "number from 1 to 65535.")
                   .arg(m_loaded.portWritten));
        security.plainPortEnabled = false;
    }
    try {
        if (!badPort || security.tls.port != 0) {
            const WorklistListener::Started started = m_listener.Start(
                static_cast<int>(port), m_network.limits, security, m_network.addresses);
            for (const QString& note : started.notes) m_log.Log(note);
            for (const QString& problem : started.problems) report(problem);
            m_port = m_listener.PlainPort();
        }
    } catch (const MwlError& error) {
        report(error.Description());
    }
    m_serviceStatus.SetPorts(m_listener.PlainPort(), m_listener.TlsPort());
    TellServiceManager(problems);
}

// Ready once a port serves; otherwise the manager's status says why not, and
// its start time-out takes its course.
void ServerRuntime::TellServiceManager(const QStringList& problems) {
    if (!Listening()) m_notListening = problems.join(QLatin1Char(' '));
    TellStatus();
    if (Listening()) m_notifier.Ready();
}

void ServerRuntime::TellStatus() {
    ServiceStatus::Parts parts = ServiceStatus::PartsOf(m_serviceStatus.Current());
    if (!m_notListening.isEmpty()) parts.ports = QStringLiteral("Not listening: ") + m_notListening;
    m_notifier.Status(ServiceStatus::Text(parts));
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
    m_notifier.Stopping();
    m_queries.BeginStop();
    m_steps.BeginStop();
    m_watch.CancelAll();
    m_listener.Stop();
    m_cleanStop = m_queries.Join(kWorkersJoinWait);
    m_cleanStop = m_steps.Join(kWorkersJoinWait) && m_cleanStop;
    return m_cleanStop;
}
