#include "platform/his/StatementClock.h"

namespace {
// Drivers give up a little before or after the exact time.
constexpr qint64 kSlackMs = 250;
}  // namespace

MwlError StatementClock::Failure(const QSqlError& error) const {
    if (m_timer.elapsed() + kSlackMs < m_timeoutSeconds * 1000LL)
        return MwlError(error.text(), FailureKind::HisQueryFailed);
    return MwlError(QStringLiteral("The HIS did not answer within the time-out of %1 s "
                                   "(QueryTimeoutSeconds): %2")
                        .arg(m_timeoutSeconds)
                        .arg(error.text()),
                    FailureKind::HisTimeout);
}
