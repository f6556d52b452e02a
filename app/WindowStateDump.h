#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "app/MainWindow.h"
#include "platform/TextActivityLog.h"

// Test hook, for end-to-end tests only: when the environment variable
// TALVEK_MWL_TEST_STATE_FILE names a file, the window's title, communication
// label and SQL box and the activity log are written there as one JSON object
// whenever they have changed (looked at ten times a second), so a test can
// read from outside the process what the operator sees.
class WindowStateDump : public QObject {
    Q_OBJECT
public:
    // Nothing when the variable is not set.
    static std::unique_ptr<WindowStateDump> FromEnvironment(const MainWindow& window,
                                                            const TextActivityLog& log);

    WindowStateDump(QString file, const MainWindow& window, const TextActivityLog& log);

private:
    void Write();

    QString m_file;
    const MainWindow& m_window;
    const TextActivityLog& m_log;
    QByteArray m_written;
    QTimer m_timer;
};
