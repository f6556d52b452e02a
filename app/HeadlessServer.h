#pragma once

#include <QObject>
#include <QString>

#include "app/ServerRuntime.h"
#include "app/StopSignalWatcher.h"
#include "app/StoredSwitches.h"
#include "platform/settings/SettingsStore.h"
#include "worklist/StatusView.h"

// The service without windows: the load sequence at once, the activity log on
// standard output (whole lines, written off the service thread), and a clean
// stop on SIGINT or SIGTERM.
class HeadlessServer : public QObject, private StatusView {
    Q_OBJECT
public:
    HeadlessServer(SettingsStore& store, const QString& homeFolder);
    ~HeadlessServer() override;

    // Runs until a stop signal; returns the process exit status.
    int Run();

private:
    void SetCommState(const QString&) override {}
    void ShowSql(const QString&) override {}

    ServerRuntime m_runtime;
    StoredSwitches m_switches;
    StopSignalWatcher m_stopSignals;
};
