#include "app/DesktopProgram.h"

#include <QApplication>
#include <cstdio>

DesktopProgram::DesktopProgram(SettingsStore& store, const QString& homeFolder, int delaySeconds)
    : m_runtime(store, homeFolder),
      m_window(m_runtime),
      m_splash(delaySeconds),
      m_stateDump(WindowStateDump::FromEnvironment(m_window, m_runtime.Log())) {
    connect(&m_splash, &SplashWindow::Started, this, &DesktopProgram::Start);
    connect(&m_window, &MainWindow::Closed, qApp, &QCoreApplication::quit);
    connect(&m_signals, &SignalWatcher::StatusRequested, this, [this] { m_runtime.LogStatus(); });
    connect(&m_signals, &SignalWatcher::HangUp, this,
            [this] { m_runtime.LogOutput().ReopenLogFile(); });
}

// Nothing the service does may reach the windows once they are gone.
DesktopProgram::~DesktopProgram() { m_runtime.Shutdown(); }

int DesktopProgram::Run() {
    m_splash.show();
    const int status = QCoreApplication::exec();
    if (!m_runtime.Shutdown()) m_runtime.LogOutput().EndNow(status);
    return status;
}

void DesktopProgram::Start() {
    m_window.show();
    m_window.Load();
    m_splash.close();
    std::fprintf(stderr, "talvek-mwl: %s\n", qPrintable(m_runtime.ListeningNote()));
    std::fflush(stderr);
}
