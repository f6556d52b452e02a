#pragma once

#include <QElapsedTimer>
#include <QSqlError>

#include "platform/MwlError.h"

// Times one statement or fetch against the query time-out, so that a failure
// which came from waiting too long (a lock, a server that does not answer)
// says so in the activity log instead of showing only the driver's words.
class StatementClock {
public:
    explicit StatementClock(int timeoutSeconds) : m_timeoutSeconds(timeoutSeconds) {
        m_timer.start();
    }

    MwlError Failure(const QSqlError& error) const;

private:
    int m_timeoutSeconds;
    QElapsedTimer m_timer;
};
