#pragma once

#include <QElapsedTimer>

// The yield of a long loop on the service thread. Every call delivers the
// events already posted to the thread, so a query that arrives meanwhile
// starts at once; the full event processing (timers, sockets, input), which
// costs a system call, runs at most every few milliseconds.
class ServiceYield {
public:
    void operator()();

private:
    static constexpr qint64 kFullYieldMs = 5;
    QElapsedTimer m_sinceFullYield;
};
