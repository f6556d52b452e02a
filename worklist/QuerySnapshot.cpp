#include "worklist/QuerySnapshot.h"

#include <limits>

#include "platform/MwlError.h"

qint64 QuerySnapshot::ResultLimit() const {
    bool ok = false;
    const qint64 limit = resultLimitText.trimmed().toLongLong(&ok);
    if (!ok || limit > std::numeric_limits<qint32>::max())
        throw MwlError(QStringLiteral("Type mismatch: ResultQueryNumber '%1' is not a number")
                           .arg(resultLimitText),
                       FailureKind::ServerConfiguration);
    return limit;
}
