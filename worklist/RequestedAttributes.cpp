#include "worklist/RequestedAttributes.h"

#include "platform/MwlError.h"

namespace {
QString Describe(Tag tag, const QVariant& value) {
    return QString::number(tag.group) + QLatin1Char(' ') + QString::number(tag.element) +
           QLatin1Char(' ') + value.toString();
}
}  // namespace

void RequestedAttributes::AddIfRequested(MatchDataset& target, const DicomDataset& reference,
                                         Tag tag, QVariant value) const {
    // Each step runs even when the one before it failed, as the log line of
    // a failure is all the operator needs.
    auto step = [&](auto&& action) {
        try {
            action();
        } catch (const std::exception& error) {
            const QString why = dynamic_cast<const MwlError*>(&error)
                                    ? static_cast<const MwlError&>(error).Description()
                                    : QString::fromLocal8Bit(error.what());
            m_log.Prepend(why + QLatin1Char(' ') + Describe(tag, value));
        }
    };
    if (!reference.Contains(tag)) return;
    if (value.isNull()) value = QString();
    step([&] { target.Add(tag, value); });
    if (m_showRequests) step([&] { Echo(tag, value); });
}

void RequestedAttributes::Echo(Tag tag, const QVariant& value) const {
    m_log.AppendLog(QStringLiteral("returning: ") + Describe(tag, value));
}
