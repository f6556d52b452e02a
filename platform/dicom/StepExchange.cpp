#include "platform/dicom/StepExchange.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcvrat.h>

#include <cstring>

#include "platform/dicom/DicomText.h"
#include "platform/dicom/IdentifierReader.h"

namespace {

StepAnswer Refuse(quint16 status, const char* comment) {
    return StepAnswer::Failure(status, QString::fromLatin1(comment));
}

// The refusal of an attribute list the server does not parse.
StepAnswer RefusalFor(FailureKind kind) {
    switch (kind) {
        case FailureKind::IdentifierTooLarge:
            return Refuse(StepStatus::ResourceLimitation, "Attribute list larger than 16 MiB");
        case FailureKind::IdentifierTooManyItems:
            return Refuse(StepStatus::ResourceLimitation, "Attribute list with more than 20000 items");
        default:
            break;
    }
    return Refuse(StepStatus::ProcessingFailure, "Attribute list cannot be read");
}

// The option bits of a response's affected SOP class and instance UIDs.
struct UidFlags {
    unsigned sopClass;
    unsigned instance;
};

// An N-CREATE or N-SET response: to which request, about which instance,
// with which status.
template <typename Response>
void Address(Response& response, DIC_US messageId, const char* sopClass, const QString& uid,
             const StepAnswer& answer, UidFlags flags) {
    response.MessageIDBeingRespondedTo = messageId;
    response.DimseStatus = answer.status;
    response.opts = flags.sopClass;
    OFStandard::strlcpy(response.AffectedSOPClassUID, sopClass, sizeof response.AffectedSOPClassUID);
    if (uid.isEmpty()) return;
    OFStandard::strlcpy(response.AffectedSOPInstanceUID, uid.toLatin1().constData(),
                        sizeof response.AffectedSOPInstanceUID);
    response.opts |= flags.instance;
}

}  // namespace

StepExchange::StepExchange(T_ASC_Association* association,
                           T_ASC_PresentationContextID presentation, int dimseTimeoutSeconds)
    : m_association(association), m_presentation(presentation), m_timeout(dimseTimeoutSeconds) {}

OFCondition StepExchange::AnswerCreate(T_DIMSE_N_CreateRQ& request, StepHandler* handler,
                                       const QString& callingAeTitle) {
    StepMessage message;
    message.kind = StepMessage::Kind::Create;
    message.callingAeTitle = callingAeTitle;
    if (request.opts & O_NCREATE_AFFECTEDSOPINSTANCEUID)
        message.instanceUid = QString::fromLatin1(request.AffectedSOPInstanceUID).trimmed();
    StepAnswer answer;
    if (const OFCondition received = Receive(request.DataSetType, request.AffectedSOPClassUID,
                                             handler, message, answer);
        received.bad())
        return received;
    T_DIMSE_Message response{};
    response.CommandField = DIMSE_N_CREATE_RSP;
    Address(response.msg.NCreateRSP, request.MessageID, request.AffectedSOPClassUID,
            answer.instanceUid.isEmpty() ? message.instanceUid : answer.instanceUid, answer,
            {O_NCREATE_AFFECTEDSOPCLASSUID, O_NCREATE_AFFECTEDSOPINSTANCEUID});
    return Send(response, answer, message.attributes);
}

OFCondition StepExchange::AnswerSet(T_DIMSE_N_SetRQ& request, StepHandler* handler,
                                    const QString& callingAeTitle) {
    StepMessage message;
    message.kind = StepMessage::Kind::Set;
    message.callingAeTitle = callingAeTitle;
    message.instanceUid = QString::fromLatin1(request.RequestedSOPInstanceUID).trimmed();
    StepAnswer answer;
    if (const OFCondition received = Receive(request.DataSetType, request.RequestedSOPClassUID,
                                             handler, message, answer);
        received.bad())
        return received;
    T_DIMSE_Message response{};
    response.CommandField = DIMSE_N_SET_RSP;
    Address(response.msg.NSetRSP, request.MessageID, request.RequestedSOPClassUID,
            message.instanceUid, answer, {O_NSET_AFFECTEDSOPCLASSUID, O_NSET_AFFECTEDSOPINSTANCEUID});
    return Send(response, answer, message.attributes);
}

OFCondition StepExchange::Receive(T_DIMSE_DataSetType type, const char* sopClass,
                                  StepHandler* handler, StepMessage& message, StepAnswer& answer) {
    std::optional<StepAnswer> refused;
    if (const OFCondition read = ReadAttributes(type, message, refused); read.bad()) return read;
    answer = refused ? *refused : Decide(handler, sopClass, message);
    return EC_Normal;
}

// A message without a list is handled as one with an empty list; the
// handler refuses what it then misses.
OFCondition StepExchange::ReadAttributes(T_DIMSE_DataSetType type, StepMessage& message,
                                         std::optional<StepAnswer>& refused) {
    if (type == DIMSE_DATASET_NULL) return EC_Normal;
    IdentifierReader::Result read = IdentifierReader::Read(
        m_association, m_presentation, m_timeout, IdentifierReader::kStepLimits);
    if (read.network.bad()) return read.network;
    if (read.refusal) {
        refused = RefusalFor(*read.refusal);
        m_refusal = refused->errorComment;
        return EC_Normal;
    }
    message.attributes = DicomDataset::InUtf8(std::move(read.dataset));
    return EC_Normal;
}

StepAnswer StepExchange::Decide(StepHandler* handler, const char* sopClass,
                                const StepMessage& message) {
    if (handler == nullptr ||
        std::strcmp(sopClass, UID_ModalityPerformedProcedureStepSOPClass) != 0) {
        m_refusal = QStringLiteral("SOP class %1 not supported").arg(QString::fromLatin1(sopClass));
        return Refuse(StepStatus::NoSuchSopClass, "Only Modality Performed Procedure Step");
    }
    return handler->Handle(message);
}

// The detail of a failure goes into the command; the values found invalid
// (0106) are sent back as the response's data set.
OFCondition StepExchange::Send(T_DIMSE_Message& response, const StepAnswer& answer,
                               const DicomDataset& request) {
    DcmDataset detail;
    DcmDataset invalid;
    if (!answer.Succeeded()) {
        if (!answer.errorComment.isEmpty())
            detail.putAndInsertString(DCM_ErrorComment,
                                      EncodeLatin1(answer.errorComment.left(64)).c_str());
        if (answer.errorId) detail.putAndInsertUint16(DCM_ErrorID, *answer.errorId);
        if (!answer.attributeIds.empty() && answer.status != StepStatus::InvalidAttributeValue) {
            auto* list = new DcmAttributeTag(DCM_AttributeIdentifierList);
            for (size_t i = 0; i < answer.attributeIds.size(); ++i)
                list->putTagVal(DcmTagKey(answer.attributeIds[i].group,
                                          answer.attributeIds[i].element),
                                static_cast<unsigned long>(i));
            detail.insert(list, OFTrue);
        }
        if (answer.status == StepStatus::InvalidAttributeValue)
            for (const Tag tag : answer.attributeIds) {
                DcmElement* value = nullptr;
                if (request.Root()->findAndGetElement(DcmTagKey(tag.group, tag.element), value)
                        .good())
                    invalid.insert(static_cast<DcmElement*>(value->clone()), OFTrue);
            }
    }
    DcmDataset* data = invalid.card() > 0 ? &invalid : nullptr;
    if (response.CommandField == DIMSE_N_CREATE_RSP)
        response.msg.NCreateRSP.DataSetType = data ? DIMSE_DATASET_PRESENT : DIMSE_DATASET_NULL;
    else
        response.msg.NSetRSP.DataSetType = data ? DIMSE_DATASET_PRESENT : DIMSE_DATASET_NULL;
    return DIMSE_sendMessageUsingMemoryData(m_association, m_presentation, &response,
                                            detail.card() > 0 ? &detail : nullptr, data, nullptr,
                                            nullptr, nullptr);
}
