#pragma once

#include <QObject>
#include <functional>

// SIGHUP never ends the program: a log rotation tool sends it after moving
// the log file away, and a terminal that closes sends it too. Each one runs
// the action on the event loop (the log file is reopened); one that comes
// before the event loop runs is kept until it does.
class HangUpSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit HangUpSignalWatcher(std::function<void()> onHangUp, QObject* parent = nullptr);
    ~HangUpSignalWatcher() override;

    // From now on SIGHUP is remembered instead of ending the process; one of
    // the program's first steps.
    static void CatchHangUp();

private:
    std::function<void()> m_onHangUp;
};
