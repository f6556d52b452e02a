#pragma once

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <QString>
#include <atomic>
#include <chrono>

#include "platform/dicom/AccessRules.h"
#include "platform/dicom/AssociationLimits.h"

class ActivityLog;
class FindChannel;
class ServiceStatus;
class FindDispatcher;
class StepHandler;
class WorkerSlot;

// What every association shares: the way to the handlers (of queries, and
// of performed procedure steps when there is one), the activity log, the
// limits, who may associate, the listener's stop flag and the status the
// associations and their queries are counted in (null: none).
struct AssociationContext {
    FindDispatcher& dispatcher;
    StepHandler* steps;
    ActivityLog& log;
    const AssociationLimits& limits;
    const AccessRules& access;
    const std::atomic<bool>& stopping;
    ServiceStatus* status = nullptr;
};

// Serves one received association request on its worker thread: negotiates,
// answers C-ECHO, hands every C-FIND to the handler and streams its matches
// the moment the handler pushes them, and hands every N-CREATE and N-SET of
// a performed procedure step to the step handler. The only place (with the
// step exchange it uses) that meets the toolkit's DIMSE calls.
class WorklistAssociation {
public:
    WorklistAssociation(T_ASC_Association* association, WorkerSlot& slot,
                        const AssociationContext& context);

    enum class Negotiated {
        Accepted,
        Refused,   // the access rules do not let the peer in; logged
        Rejected,  // nothing acceptable was proposed
    };
    Negotiated Negotiate();
    // Logs the association under its number and runs it to its end; returns
    // the line for the log that says how it ended, after how long. The caller
    // logs it once the worker is free again.
    QString Serve(unsigned long long id);

private:
    bool Admitted();
    QString PeerText() const;
    QString RunCommands();
    bool MessageComing(int idleSeconds);
    QString Ended(const OFCondition& condition);
    QString EndIdle();
    QString StoppedReading(std::chrono::seconds time) const;
    QString Abort(const QString& why);
    OFCondition Handle(T_DIMSE_Message& message, T_ASC_PresentationContextID presentation);
    OFCondition AnswerEcho(T_DIMSE_C_EchoRQ& request, T_ASC_PresentationContextID presentation);
    OFCondition AnswerFind(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presentation);
    OFCondition AnswerStep(T_DIMSE_Message& message, T_ASC_PresentationContextID presentation);
    OFCondition Stream(FindChannel& channel, T_DIMSE_C_FindRQ& request,
                       T_ASC_PresentationContextID presentation);
    // A response without a dataset: the final status, with its detail.
    OFCondition SendResponse(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presentation,
                             Uint16 status, DcmDataset* detail = nullptr);
    OFCondition SendStatus(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presentation,
                           Uint16 status, const QString& comment);
    OFCondition CheckForCancel(T_DIMSE_C_FindRQ& request, T_ASC_PresentationContextID presentation,
                               bool& cancelled);
    std::chrono::seconds DimseTime() const;
    int ReadTimeoutSeconds() const;
    OFCondition Released(OFCondition status);
    void Hold(bool hold);
    void Note(const QString& text);
    void CountQuery(bool answered);
    QString AbstractSyntaxOf(T_ASC_PresentationContextID presentation) const;

    T_ASC_Association* m_association;
    WorkerSlot& m_slot;
    const AssociationContext& m_context;
    unsigned long long m_id = 0;
    bool m_holding = false;
    bool m_receiving = false;  // a message is being received (else: answered)
};
