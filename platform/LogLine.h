#pragma once

#include <QString>
#include <QtGlobal>

// One whole line of the activity log, as the log writer's outputs take it.
struct LogLine {
    // When the line was written, in milliseconds since the epoch (UTC).
    qint64 msecsSinceEpoch = 0;
    // The local date and time text the window shows in front of the line
    // (lines written with Log); empty for lines the window shows as they are.
    QString stamp;
    QString text;

    // The line as the window shows it.
    QString Shown() const { return stamp.isEmpty() ? text : stamp + QLatin1Char(' ') + text; }
};
