#pragma once

#include <QString>

// A value from the network or a database on one line of the activity log:
// control characters become "?".
inline QString OneLine(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QLatin1Char('?');
    return text;
}
