#pragma once

#include <QString>

// State the whole run shares: the selected back-end and its base statement.
struct ServiceState {
    QString ConnectionMode;
    QString BaseSQL;
};

namespace Modes {
inline const QString Talvek = QStringLiteral("TALVEK");
inline const QString Pelta = QStringLiteral("PELTA");
inline const QString Corvante = QStringLiteral("CORVANTE");
inline const QString Bramwoods = QStringLiteral("BRAMWOODS");
inline const QString Orvelline = QStringLiteral("ORVELLINE");

inline bool IsDatabase(const QString& mode) {
    return mode == Talvek || mode == Pelta || mode == Corvante || mode == Orvelline;
}
}  // namespace Modes
