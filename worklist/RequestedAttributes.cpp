#include "worklist/RequestedAttributes.h"

#include <algorithm>

#include "platform/MwlError.h"

namespace {
QString Describe(Tag tag, const QVariant& value) {
    return QString::number(tag.group) + QLatin1Char(' ') + QString::number(tag.element) +
           QLatin1Char(' ') + value.toString();
}

// What a level of the request asks for; a group length or a private
// attribute is no key.
std::vector<Tag> KeysOf(const DicomDataset& level) {
    std::vector<Tag> keys;
    for (const DicomAttribute& attribute : level.Attributes())
        if (attribute.Element() != 0x0000 && attribute.Group() % 2 == 0)
            keys.push_back({attribute.Group(), attribute.Element()});
    std::sort(keys.begin(), keys.end(), [](Tag a, Tag b) {
        return a.group != b.group ? a.group < b.group : a.element < b.element;
    });
    return keys;
}
}  // namespace

RequestedAttributes::RequestedAttributes(ActivityLog& log, bool showRequests,
                                         const DicomDataset& request,
                                         const DicomDataset& requestStep)
    : m_log(log),
      m_showRequests(showRequests),
      m_keys(KeysOf(request)),
      m_stepKeys(KeysOf(requestStep)),
      m_empties(MatchDataset::EmptiesOf(m_keys)),
      m_stepEmpties(MatchDataset::EmptiesOf(m_stepKeys)) {}

ValueFixes RequestedAttributes::AddIfRequested(MatchDataset& target, const DicomDataset& reference,
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
    if (!reference.Contains(tag)) return 0;
    if (value.isNull()) value = QString();
    ValueFixes fixes = 0;
    step([&] { fixes = target.Add(tag, value); });
    if (m_showRequests) step([&] { Echo(tag, value); });
    return fixes;
}

void RequestedAttributes::AnswerTheRest(MatchDataset& match, MatchDataset& step) const {
    AnswerTheRest(match, m_empties);
    AnswerTheRest(step, m_stepEmpties);
}

void RequestedAttributes::AnswerTheRest(MatchDataset& target, const MatchDataset& empties) const {
    if (!m_showRequests) {
        target.AddMissingFrom(empties);
        return;
    }
    std::vector<Tag> added;
    target.AddMissingFrom(empties, &added);
    for (const Tag tag : added) Echo(tag, QString());
}

void RequestedAttributes::NoteFixes(const QString& order, Tag tag, ValueFixes fixes) const {
    if (fixes == 0) return;
    const QString key = order + QLatin1Char('\n') +
                        QString::number(static_cast<quint32>(tag.group) << 16 | tag.element);
    if (m_noted.contains(key)) return;
    m_noted.insert(key);
    m_log.Log(QStringLiteral("Order %1: %2.").arg(order, DescribeFixes(tag, fixes)));
}

void RequestedAttributes::Echo(Tag tag, const QVariant& value) const {
    m_log.AppendLog(QStringLiteral("returning: ") + Describe(tag, value));
}
