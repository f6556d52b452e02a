#pragma once

#include <QString>
#include <chrono>
#include <optional>
#include <vector>

#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/DicomTag.h"

// The DIMSE statuses of N-CREATE and N-SET responses the server gives.
namespace StepStatus {
constexpr quint16 Success = 0x0000;
constexpr quint16 NoSuchAttribute = 0x0105;
constexpr quint16 InvalidAttributeValue = 0x0106;
constexpr quint16 ProcessingFailure = 0x0110;
constexpr quint16 DuplicateInstance = 0x0111;
constexpr quint16 NoSuchInstance = 0x0112;
constexpr quint16 InvalidInstance = 0x0117;
constexpr quint16 NoSuchSopClass = 0x0118;
constexpr quint16 MissingAttribute = 0x0120;
constexpr quint16 ResourceLimitation = 0x0213;
}  // namespace StepStatus

// One N-CREATE or N-SET of a Modality Performed Procedure Step, as an
// association received it.
struct StepMessage {
    enum class Kind { Create, Set };
    Kind kind = Kind::Create;
    // The Affected (N-CREATE) or Requested (N-SET) SOP Instance UID; empty
    // for an N-CREATE that leaves it to the server.
    QString instanceUid;
    QString callingAeTitle;
    // The attribute list (N-CREATE) or modification list (N-SET), its text
    // in UTF-8.
    DicomDataset attributes;
};

// The response to one step message.
struct StepAnswer {
    quint16 status = 0x0000;
    QString errorComment;            // (0000,0902), at most 64 characters
    std::optional<quint16> errorId;  // (0000,0903)
    std::vector<Tag> attributeIds;   // (0000,1005): the attributes at fault
    // The instance the response is about: for an N-CREATE without a UID, the
    // one the server gave it.
    QString instanceUid;

    bool Succeeded() const { return status == 0x0000; }
    static StepAnswer Failure(quint16 status, QString comment) {
        StepAnswer answer;
        answer.status = status;
        answer.errorComment = std::move(comment);
        return answer;
    }
};

// What answers the performed procedure step messages: called on the
// association's thread, it returns once the message is dealt with (recorded
// or refused), so the response never promises more than was done.
class StepHandler {
public:
    virtual ~StepHandler() = default;
    virtual StepAnswer Handle(const StepMessage& message) = 0;
    // The longest Handle may take.
    virtual std::chrono::seconds LongestAnswer() const = 0;
};
