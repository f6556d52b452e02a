#pragma once

#include <QObject>

// Ends the application's event loop on SIGINT or SIGTERM. The program then
// stops the service; a signal that comes before the service has started is
// remembered, so the listener is never started.
class StopSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit StopSignalWatcher(QObject* parent = nullptr);
    ~StopSignalWatcher() override;

    // A stop signal has come, though the event loop may not have run yet.
    static bool StopRequested();
    // From now on a stop signal is remembered instead of ending the process;
    // the program's first step, so no signal finds it unprepared.
    static void CatchStopSignals();
};
