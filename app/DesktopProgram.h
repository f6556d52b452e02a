#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "app/MainWindow.h"
#include "app/ServerRuntime.h"
#include "app/SplashWindow.h"
#include "app/SignalWatcher.h"
#include "app/WindowStateDump.h"
#include "platform/settings/SettingsStore.h"

// The desktop program: the start-up window, then the main window over the
// running service. It ends when the operator closes the main window or on
// SIGINT or SIGTERM; the service then stops within a few seconds once the
// event loop has returned (answers in progress get two seconds). SIGHUP (a
// closing terminal, a log rotation) opens the log file again.
class DesktopProgram : public QObject {
    Q_OBJECT
public:
    DesktopProgram(SettingsStore& store, const QString& homeFolder, int delaySeconds);
    ~DesktopProgram() override;

    // Shows the start-up window and runs until the program ends; returns the
    // process exit status.
    int Run();

    ServerRuntime& Runtime() { return m_runtime; }
    SplashWindow& Splash() { return m_splash; }
    MainWindow& Window() { return m_window; }

private:
    void Start();

    ServerRuntime m_runtime;
    MainWindow m_window;
    SplashWindow m_splash;
    SignalWatcher m_signals;
    std::unique_ptr<WindowStateDump> m_stateDump;
};
