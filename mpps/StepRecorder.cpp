#include "mpps/StepRecorder.h"

#include "mpps/StepRules.h"
#include "mpps/StepTags.h"
#include "platform/MwlError.h"

namespace {

// Another server may change the same step at the same moment; the change is
// applied again on what that one left, this many times at most.
constexpr int kAttempts = 3;

StepRecorder::Outcome Accepted(const PerformedStep& step) {
    StepAnswer answer;
    answer.instanceUid = step.instanceUid;
    return {answer, step};
}

}  // namespace

StepRecorder::Outcome StepRecorder::Record(const StepMessage& message) {
    return message.kind == StepMessage::Kind::Create ? Create(message) : Set(message);
}

StepRecorder::Outcome StepRecorder::Create(const StepMessage& message) {
    if (auto refused = StepRules::CheckCreate(message)) return {*refused, std::nullopt};
    PerformedStep step;
    step.instanceUid = message.instanceUid.isEmpty() ? m_uids.NewUid() : message.instanceUid;
    step.callingAeTitle = message.callingAeTitle;
    step.attributes = message.attributes;
    step.created = step.updated = m_clock.NowUtc();
    if (m_journal.Find(step.instanceUid) || !m_journal.Insert(step))
        return {StepAnswer::Failure(StepStatus::DuplicateInstance,
                                    QStringLiteral("Performed procedure step exists already")),
                std::nullopt};
    return Accepted(step);
}

StepRecorder::Outcome StepRecorder::Set(const StepMessage& message) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::optional<PerformedStep> step = m_journal.Find(message.instanceUid);
        if (!step)
            return {StepAnswer::Failure(StepStatus::NoSuchInstance,
                                        QStringLiteral("No such performed procedure step")),
                    std::nullopt};
        if (auto refused = StepRules::CheckSet(step->state, message)) return {*refused, std::nullopt};
        const qint64 read = step->version;
        step->attributes.Replace(message.attributes);
        if (message.attributes.Contains(StepTags::Status))
            step->state = *StepStateFrom(message.attributes.Item(StepTags::Status).Text());
        step->updated = m_clock.NowUtc();
        step->version = read + 1;
        if (m_journal.Update(*step, read)) return Accepted(*step);
    }
    throw MwlError(QStringLiteral("The step %1 kept changing while it was being recorded.")
                       .arg(message.instanceUid));
}
