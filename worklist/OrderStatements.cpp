#include "worklist/OrderStatements.h"

QString OrderStatements::Build(const QString& mode, const QueryKeys& keys) {
    if (mode == Modes::Talvek) return Talvek(keys);
    if (mode == Modes::Pelta) return Pelta(keys);
    if (mode == Modes::Orvelline) return Orvelline(keys);
    // CORVANTE answers every open order; no key narrows it.
    if (mode == Modes::Corvante) return m_services.state.BaseSQL;
    return QString();
}

QString OrderStatements::Talvek(const QueryKeys&) { return QString(); }

QString OrderStatements::Pelta(const QueryKeys&) { return m_services.state.BaseSQL; }

QString OrderStatements::Orvelline(const QueryKeys&) {
    return m_services.state.BaseSQL + QStringLiteral(" order by trand desc LIMIT 50");
}
