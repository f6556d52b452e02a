#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "app/ServerRuntime.h"
#include "app/SignalWatcher.h"
#include "platform/settings/SettingsStore.h"

// The service without windows: the load sequence at once, the activity log on
// standard output (whole lines, written off the service's threads), and a
// clean stop on SIGINT or SIGTERM, also one that comes during the load. What
// the window's status strip shows goes to the log as one line a minute while
// anything changes, and at once on SIGUSR1. SIGHUP opens the log file again.
class HeadlessServer : public QObject {
    Q_OBJECT
public:
    HeadlessServer(SettingsStore& store, const QString& homeFolder);
    ~HeadlessServer() override;

    // Runs until a stop signal; returns the process exit status.
    int Run();

private:
    void LogStatus();

    ServerRuntime m_runtime;
    SignalWatcher m_signals;
    QTimer m_statusMinute;
    quint64 m_statusLogged = 0;  // the status generation the last line showed
};
