#pragma once

#include <QObject>

// The signals the program answers. SIGINT and SIGTERM end the application's
// event loop; the program then stops the service. A stop signal that comes
// before the service has started is remembered, so the listener is never
// started. SIGUSR1 asks for the status line in the activity log. SIGHUP
// never ends the program: a log rotation tool sends it after moving the log
// file away (and a closing terminal sends it too); it asks for the log file
// to be opened again.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // A stop signal has come, though the event loop may not have run yet.
    static bool StopRequested();
    // From now on the signals are remembered instead of ending the process;
    // the program's first step, so no signal finds it unprepared.
    static void CatchSignals();

signals:
    // SIGUSR1 came.
    void StatusRequested();
    // SIGHUP came (once for however many came meanwhile).
    void HangUp();
};
