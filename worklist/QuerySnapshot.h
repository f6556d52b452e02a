#pragma once

#include <QString>
#include <QtGlobal>

#include "worklist/ConnectionMode.h"
#include "worklist/Switches.h"

// Everything a query reads of what the operator controls, taken once when the
// query starts. The window and the settings replace it as a whole, so a
// change applies to the queries that start after it and never to half of
// one.
struct QuerySnapshot {
    ConnectionMode mode = ConnectionMode::None;
    // The mode's connection string as last read from its file; empty for
    // none. Each time the mode is chosen the generation changes, and the
    // query workers take the string over at their next query.
    QString connectionString;
    quint64 connectionGeneration = 0;
    // The mode's base statement (for the console and the listings).
    QString BaseSQL;
    // ResultQueryNumber as stored.
    QString resultLimitText = QStringLiteral("300");
    Switches switches;

    // The result limit; throws MwlError when the stored text is no number.
    qint64 ResultLimit() const;
};
