#pragma once

#include <QDateTime>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
    // Now in UTC, without a conversion from local time (which sets the time
    // zone of the whole process again on some platforms).
    virtual QDateTime NowUtc() const { return Now().toUTC(); }
};

class SystemClock : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
    QDateTime NowUtc() const override { return QDateTime::currentDateTimeUtc(); }
};
