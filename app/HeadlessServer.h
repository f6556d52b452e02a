#pragma once

#include <QObject>
#include <QString>

#include "app/HangUpSignalWatcher.h"
#include "app/ServerRuntime.h"
#include "app/StopSignalWatcher.h"
#include "platform/settings/SettingsStore.h"

// The service without windows: the load sequence at once, the activity log on
// standard output (whole lines, written off the service's threads), and a
// clean stop on SIGINT or SIGTERM, also one that comes during the load.
// SIGHUP opens the log file again.
class HeadlessServer : public QObject {
    Q_OBJECT
public:
    HeadlessServer(SettingsStore& store, const QString& homeFolder);
    ~HeadlessServer() override;

    // Runs until a stop signal; returns the process exit status.
    int Run();

private:
    ServerRuntime m_runtime;
    StopSignalWatcher m_stopSignals;
    HangUpSignalWatcher m_hangUp;
};
