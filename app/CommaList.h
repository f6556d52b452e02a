#pragma once

#include <QString>
#include <QStringList>

// The entries of a comma-separated setting, without blanks around them;
// empty entries are dropped.
inline QStringList CommaList(const QString& text) {
    QStringList entries;
    for (const QString& entry : text.split(QLatin1Char(',')))
        if (!entry.trimmed().isEmpty()) entries << entry.trimmed();
    return entries;
}
