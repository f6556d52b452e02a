#include "mpps/StepRules.h"

#include <QRegularExpression>

#include "mpps/StepTags.h"

namespace {

constexpr quint16 kNoLongerUpdatedErrorId = 0xA710;

StepAnswer Refusal(quint16 status, const QString& comment, std::vector<Tag> tags = {}) {
    StepAnswer answer = StepAnswer::Failure(status, comment);
    answer.attributeIds = std::move(tags);
    return answer;
}

// A UID: digits in dot-separated components, at most 64 characters.
bool IsUid(const QString& text) {
    static const QRegularExpression uid(QStringLiteral(R"(^(0|[1-9][0-9]*)(\.(0|[1-9][0-9]*))*$)"));
    return text.size() <= 64 && uid.match(text).hasMatch();
}

}  // namespace

const std::vector<Tag>& StepRules::NotSettable() {
    // The Scheduled Step Attributes Sequence, the patient, admission and
    // service episode, and the performed step's identity, station, place,
    // start, modality and study ID.
    static const std::vector<Tag> tags = {
        {0x0008, 0x0060}, {0x0008, 0x1120}, {0x0010, 0x0010}, {0x0010, 0x0020},
        {0x0010, 0x0021}, {0x0010, 0x0024}, {0x0010, 0x0030}, {0x0010, 0x0040},
        {0x0010, 0x1002}, {0x0020, 0x0010}, {0x0038, 0x0010}, {0x0038, 0x0014},
        {0x0038, 0x0060}, {0x0038, 0x0062}, {0x0038, 0x0064}, {0x0040, 0x0241},
        {0x0040, 0x0242}, {0x0040, 0x0243}, {0x0040, 0x0244}, {0x0040, 0x0245},
        {0x0040, 0x0253}, {0x0040, 0x0270}};
    return tags;
}

StepAnswer StepRules::Ended() {
    StepAnswer answer = StepAnswer::Failure(
        StepStatus::ProcessingFailure,
        QStringLiteral("Performed Procedure Step Object may no longer be updated"));
    answer.errorId = kNoLongerUpdatedErrorId;
    return answer;
}

std::optional<StepAnswer> StepRules::CheckCreate(const StepMessage& message) {
    if (!message.instanceUid.isEmpty() && !IsUid(message.instanceUid))
        return Refusal(StepStatus::InvalidInstance, QStringLiteral("SOP Instance UID is not a UID"));
    if (auto text = CheckText(message)) return text;
    return CheckStatus(message, true);
}

std::optional<StepAnswer> StepRules::CheckSet(StepState current, const StepMessage& message) {
    if (IsFinal(current)) return Ended();
    if (auto text = CheckText(message)) return text;
    std::vector<Tag> refused;
    for (const Tag tag : NotSettable())
        if (message.attributes.Contains(tag)) refused.push_back(tag);
    if (!refused.empty())
        return Refusal(StepStatus::NoSuchAttribute,
                       QStringLiteral("Attribute not allowed in N-SET"), std::move(refused));
    if (!message.attributes.Contains(StepTags::Status)) return std::nullopt;
    return CheckStatus(message, false);
}

// Text that cannot be read in UTF-8 could not be merged with later changes.
std::optional<StepAnswer> StepRules::CheckText(const StepMessage& message) {
    if (message.attributes.TextProblem().isEmpty()) return std::nullopt;
    return Refusal(StepStatus::InvalidAttributeValue,
                   QStringLiteral("Specific Character Set not supported"),
                   {StepTags::SpecificCharacterSet});
}

std::optional<StepAnswer> StepRules::CheckStatus(const StepMessage& message,
                                                 bool mustBeInProgress) {
    if (!message.attributes.Contains(StepTags::Status))
        return Refusal(StepStatus::MissingAttribute,
                       QStringLiteral("No Performed Procedure Step Status"), {StepTags::Status});
    const std::optional<StepState> state =
        StepStateFrom(message.attributes.Item(StepTags::Status).Text());
    if (state && (!mustBeInProgress || *state == StepState::InProgress)) return std::nullopt;
    return Refusal(StepStatus::InvalidAttributeValue,
                   mustBeInProgress ? QStringLiteral("N-CREATE must be IN PROGRESS")
                                    : QStringLiteral("Unknown Performed Procedure Step Status"),
                   {StepTags::Status});
}
