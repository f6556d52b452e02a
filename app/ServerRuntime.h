#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "app/ModeOptions.h"
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

    ServerRuntime(SettingsStore& store, QString homeFolder, QObject* parent = nullptr);
    ~ServerRuntime() override;

    // The switches and status view must be set before Load.
    void Attach(Switches& switches, StatusView& status);

    // The load sequence from restoring the settings to the Study UID switch.
    // Problems the operator must see (connection file, port) go to the log
    // and to the message sink.
    void Load(const MessageSink& showMessage);
    // Stops the listener within a few seconds, whatever the peers do: new
    // connections are refused at once, answers in progress get two seconds,
    // the rest are aborted. Then the handler goes.
    void Shutdown();

    TextActivityLog& Log() { return m_log; }
    ModeOptions& Options() { return m_options; }
    StartupSettings& Loaded() { return m_loaded; }
    ServiceState& State() { return m_state; }
    OdbcHisConnection& His() { return m_his; }
    WorklistServices& Services() { return *m_services; }
    QueryHandler& Handler() { return *m_handler; }
    bool Listening() const { return m_listener.Listening(); }
    int Port() const { return m_port; }

private:
    void ReadConnectionString(const MessageSink& showMessage);
    void StartListener(const MessageSink& showMessage);

    SettingsStore& m_store;
    QString m_homeFolder;
    SystemClock m_clock;
    TextActivityLog m_log;
    UuidUidGenerator m_uids;
    ServiceState m_state;
    ModeOptions m_options;
    StartupSettings m_loaded;
    OdbcHisConnection m_his;
    std::unique_ptr<WorklistServices> m_services;
    std::unique_ptr<QueryHandler> m_handler;
    WorklistListener m_listener;
    int m_port = 0;
};
