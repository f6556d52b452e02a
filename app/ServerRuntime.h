#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "app/LogOutputs.h"
#include "app/ModeOptions.h"
#include "app/NetworkSettings.h"
#include "app/SecuritySettings.h"
#include "app/StartupSettings.h"
#include "platform/Clock.h"
#include "platform/TextActivityLog.h"
#include "platform/dicom/UidGenerator.h"
#include "platform/dicom/WorklistListener.h"
#include "platform/his/OdbcHisConnection.h"
#include "worklist/QueryHandler.h"
#include "worklist/ServiceState.h"
#include "worklist/WorklistServices.h"

// Everything the running service consists of, and the load sequence that
// brings it up: settings, log, HIS connection, listener. The window and the
// headless mode each supply the switches and the status view.
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
        // listener starts next.
        std::function<void()> servicePrepared = [] {};
    };

    ServerRuntime(SettingsStore& store, QString homeFolder, QObject* parent = nullptr);
    ~ServerRuntime() override;

    // The switches and status view must be set before Load.
    void Attach(Switches& switches, StatusView& status);

    // The load sequence: settings, log, HIS connection, base statement and
    // switches, and only then the listener, so no query ever meets a
    // half-loaded service.
    void Load(const LoadHooks& hooks);
    // A mode chosen while serving: saves the options and takes full effect at
    // once (base statement, the mode's connection string, the HIS reopened).
    // Queries already running keep the mode they began with.
    void ChangeMode(ModeOptions::Option option, const MessageSink& showMessage);
    // Stops the listener within a few seconds, whatever the peers do: new
    // connections are refused at once, answers in progress get two seconds,
    // the rest are aborted. Then the handler goes.
    void Shutdown();
    // Closes the listener only; the handler stays, so a query paused in one
    // of its yields returns normally before Shutdown.
    void StopListening() { m_listener.Stop(); }

    TextActivityLog& Log() { return m_log; }
    LogOutputs& LogOutput() { return m_logOutputs; }
    ModeOptions& Options() { return m_options; }
    StartupSettings& Loaded() { return m_loaded; }
    const SecuritySettings& Security() const { return m_security; }
    ServiceState& State() { return m_state; }
    OdbcHisConnection& His() { return m_his; }
    WorklistServices& Services() { return *m_services; }
    QueryHandler& Handler() { return *m_handler; }
    bool Listening() const { return m_listener.Listening(); }
    int Port() const { return m_port; }
    SettingsStore& Store() { return m_store; }
    // "listening on port N" (and "on port M (TLS)"), or why not, for the
    // program's standard error.
    QString ListeningNote() const;

private:
    void LoadNetworkSettings();
    void Report(const QString& problem, const MessageSink& showMessage);
    void ReadConnectionString(const MessageSink& showMessage);
    void StartListener(const MessageSink& showMessage);

    SettingsStore& m_store;
    QString m_homeFolder;
    SystemClock m_clock;
    TextActivityLog m_log;
    LogOutputs m_logOutputs;
    UuidUidGenerator m_uids;
    ServiceState m_state;
    ModeOptions m_options;
    StartupSettings m_loaded;
    NetworkSettings m_network;
    SecuritySettings m_security;
    OdbcHisConnection m_his;
    std::unique_ptr<WorklistServices> m_services;
    std::unique_ptr<QueryHandler> m_handler;
    WorklistListener m_listener;
    int m_port = 0;
};
