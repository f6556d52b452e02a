#pragma once

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <QString>

#include "platform/dicom/StepHandler.h"

// One N-CREATE or N-SET of a Modality Performed Procedure Step on an
// association: receives its attribute list, hands the message to the step
// handler and sends the response with the handler's status and its detail
// (Error Comment, Error ID, Attribute Identifier List).
class StepExchange {
public:
    StepExchange(T_ASC_Association* association, T_ASC_PresentationContextID presentation,
                 int dimseTimeoutSeconds);

    OFCondition AnswerCreate(T_DIMSE_N_CreateRQ& request, StepHandler* handler,
                             const QString& callingAeTitle);
    OFCondition AnswerSet(T_DIMSE_N_SetRQ& request, StepHandler* handler,
                          const QString& callingAeTitle);

    // For the activity log: what was refused before the handler saw it.
    const QString& Refusal() const { return m_refusal; }

private:
    // Reads the attribute list into the message and has it decided (or
    // refused, when it cannot be used); a bad condition when the association
    // cannot go on.
    OFCondition Receive(T_DIMSE_DataSetType type, const char* sopClass, StepHandler* handler,
                        StepMessage& message, StepAnswer& answer);
    // Reads the attribute list into the message; a failure answer when it
    // cannot be used, a bad condition when the association cannot go on.
    OFCondition ReadAttributes(T_DIMSE_DataSetType type, StepMessage& message,
                               std::optional<StepAnswer>& refused);
    StepAnswer Decide(StepHandler* handler, const char* sopClass, const StepMessage& message);
    OFCondition Send(T_DIMSE_Message& response, const StepAnswer& answer,
                     const DicomDataset& request);

    T_ASC_Association* m_association;
    T_ASC_PresentationContextID m_presentation;
    int m_timeout;
    QString m_refusal;
};
