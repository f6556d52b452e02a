#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>

// ISO 8601 local date and time with milliseconds and the offset from UTC,
// "2026-12-03T07:08:09.123+01:00", for lines read by people and tools alike.
// Lines come in bursts within one second, so the date, time and offset are
// worked out once per second.
class IsoTimeText {
public:
    QByteArray Of(qint64 msecsSinceEpoch);

private:
    std::time_t m_second = -1;
    QByteArray m_prefix;  // up to the seconds
    QByteArray m_offset;
};
