#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/LogOutputs.h"
#include "app/ModeOptions.h"
#include "app/MppsSettings.h"
#include "app/NetworkSettings.h"
#include "app/SecuritySettings.h"
#include "app/StartupSettings.h"
#include "mpps/MppsService.h"
#include "platform/Clock.h"
#include "platform/ServiceStatus.h"
#include "platform/SystemdNotifier.h"
#include "platform/TextActivityLog.h"
#include "platform/dicom/FindDispatcher.h"
#include "platform/dicom/UidGenerator.h"
#include "platform/dicom/WorklistListener.h"
#include "platform/his/HisConnection.h"
#include "platform/his/OdbcHisConnection.h"
#include "platform/his/StatementWatch.h"
#include "worklist/QuerySettings.h"
#include "worklist/StatusView.h"
#include "worklist/StudyUidLocks.h"
#include "worklist/bramwoods/OrderFileCache.h"

// Everything the running service consists of, and the load sequence that
// brings it up: settings, log, the query workers with their HIS
// connections, the performed procedure step service, the listener. The window and the headless mode each supply
// the status view and the operator's switches.
//
// Nothing here waits for the HIS on the thread that calls it: the query
// workers open their connections, and run every statement, on threads of
// their own.
//
// Under a service manager (NOTIFY_SOCKET) it says READY once a port
// listens, keeps STATUS at the status strip's text, sends WATCHDOG from the
// query workers' monitor while a worker can take a query, and STOPPING at
// the stop; without one, none of that happens.
class ServerRuntime : public QObject {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    // What the host does between the steps of the load sequence.
    struct LoadHooks {
        // Problems the operator must see (connection file, port); they are
        // logged as well. The sink must not wait for the operator.
        MessageSink showMessage = [](const QString&) {};
        // The mode options, port, HL7 folder and institution name are restored.
        std::function<void()> settingsRestored = [] {};
        // The base statement, result limit and Study UID switch are set; the
        // operator's switches are taken next, then the listener starts.
        std::function<void()> servicePrepared = [] {};
        // The operator's switches as the host holds them; empty: from the
        // settings store (no window).
        std::function<Switches()> switches;
        // True when a stop came during the load: the listener never starts.
        std::function<bool()> stopRequested = [] { return false; };
    };

    ServerRuntime(SettingsStore& store, QString homeFolder, QObject* parent = nullptr);
    ~ServerRuntime() override;

    // The status view must be set before Load; without one nothing is shown.
    void Attach(StatusView& status) { m_status = &status; }

    // The load sequence: settings, log, the snapshot every query reads, the
    // query workers, the performed procedure step service and only then the
    // listener, so no query ever meets a half-loaded service.
    void Load(const LoadHooks& hooks);
    // A mode chosen while serving: saves the options and takes effect for the
    // queries that start from now on (base statement, the mode's connection
    // string). A query worker opens the new mode's HIS connection and says
    // in the log how that went.
    void ChangeMode(ModeOptions::Option option, const MessageSink& showMessage);
    // "Generate Study UID" ticked in a mode whose HIS lacks the tables the
    // Study UID step uses: a warning for the log and the operator (the
    // queries still run as they are told).
    void CheckStudyUidSwitch(bool ticked, const MessageSink& showMessage);
    // Stops within a few seconds, whatever the HIS and the peers do: new
    // connections are refused at once, queries waiting for a worker fail, the
    // HIS statements in flight are cancelled, answers in progress get two
    // seconds, the rest are aborted, and every thread is joined. False when a
    // query worker is still held by a HIS that ignored the cancel.
    bool Shutdown();
    // Closes the listener only (the update hands the port to the new program).
    void StopListening() { m_listener.Stop(); }

    // A HIS connection for a thread of the caller's (the tools), to be made
    // on that thread.
    std::unique_ptr<HisConnection> MakeHisConnection();
    int QueryTimeoutSeconds() const;

    TextActivityLog& Log() { return m_log; }
    ServiceStatus& Status() { return m_serviceStatus; }
    // The status strip's text as a line of the log ("Status: ...").
    void LogStatus() { m_log.Log(QStringLiteral("Status: ") + m_serviceStatus.Text()); }
    LogOutputs& LogOutput() { return m_logOutputs; }
    ModeOptions& Options() { return m_options; }
    StartupSettings& Loaded() { return m_loaded; }
    const SecuritySettings& Security() const { return m_security; }
    QuerySettings& Settings() { return m_settings; }
    // The performed steps of late, for the window; its observer is set
    // before Load.
    RecentSteps& PerformedSteps() { return m_steps.Recent(); }
    bool Listening() const { return m_listener.Listening(); }
    int Port() const { return m_port; }
    SettingsStore& Store() { return m_store; }
    // "listening on port N" (and "on port M (TLS)"), or why not, for the
    // program's standard error.
    QString ListeningNote() const;

private:
    class NoStatus : public StatusView {
        void SetCommState(const QString&) override {}
        void ShowSql(const QString&) override {}
    };

    void LoadNetworkSettings();
    void LogSettingsFiles();
    void Report(const QString& problem, const MessageSink& showMessage);
    void PublishMode(const MessageSink& showMessage);
    void StartQueries();
    void StartSteps();
    std::unique_ptr<HisConnection> MakeJournalConnection(const QString& connectionString);
    void StartListener(const MessageSink& showMessage);
    void TellServiceManager(const QStringList& problems);
    void TellStatus();
    std::unique_ptr<OdbcHisConnection> MakeOdbcConnection();

    SettingsStore& m_store;
    QString m_homeFolder;
    SystemClock m_clock;
    TextActivityLog m_log;
    ServiceStatus m_serviceStatus;
    SystemdNotifier m_notifier;
    QTimer m_statusNotice;  // STATUS at most once a second
    QString m_notListening;  // why no port listens, for the manager's status
    LogOutputs m_logOutputs;
    UuidUidGenerator m_uids;
    ModeOptions m_options;
    StartupSettings m_loaded;
    NetworkSettings m_network;
    SecuritySettings m_security;
    MppsSettings m_mpps;
    QuerySettings m_settings;
    NoStatus m_noStatus;
    StatusView* m_status = &m_noStatus;
    StatementWatch m_watch;
    StudyUidLocks m_studyUidLocks;
    OrderFileCache m_orderFiles;
    FindDispatcher m_queries;
    // Before the listener, whose associations hand it their steps.
    MppsService m_steps;
    WorklistListener m_listener;
    int m_port = 0;
    bool m_shutDown = false;
    bool m_cleanStop = true;
};
