#include "platform/dicom/WorklistAssociation.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dulstruc.h>

#include <cstring>

#include "platform/ActivityLog.h"
#include "platform/ServiceStatus.h"
#include "platform/dicom/DicomText.h"
#include "platform/dicom/FindChannel.h"
#include "platform/dicom/FindDispatcher.h"
#include "platform/dicom/IdentifierReader.h"
#include "platform/dicom/Implementation.h"
#include "platform/dicom/MatchSender.h"
#include "platform/dicom/SocketTuning.h"
#include "platform/dicom/StepExchange.h"
#include "platform/dicom/TlsTransport.h"
#include "platform/dicom/WorkerSlot.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr unsigned kMatchesPerCancelCheck = 16;
// Releasing or aborting waits for the peer's answer at most this long.
constexpr auto kClosingTime = std::chrono::seconds(2);

// The last one only when a step handler serves it.
const char* const kSopClasses[] = {UID_VerificationSOPClass,
                                   UID_FINDModalityWorklistInformationModel,
                                   UID_FINDPatientRootQueryRetrieveInformationModel,
                                   UID_FINDStudyRootQueryRetrieveInformationModel,
                                   UID_ModalityPerformedProcedureStepSOPClass};
const char* const kTransferSyntaxes[] = {UID_LittleEndianExplicitTransferSyntax,
                                         UID_LittleEndianImplicitTransferSyntax};

QString RootOf(const char* sopClass) {
    if (std::strcmp(sopClass, UID_FINDModalityWorklistInformationModel) == 0)
        return QStringLiteral("WORKLIST");
    if (std::strcmp(sopClass, UID_FINDPatientRootQueryRetrieveInformationModel) == 0)
        return QStringLiteral("PATIENT");
    if (std::strcmp(sopClass, UID_FINDStudyRootQueryRetrieveInformationModel) == 0)
        return QStringLiteral("STUDY");
    return QString::fromLatin1(sopClass);
}

// AE titles come from any host on the network: keep them to one printable line.
QString Printable(const char* text) {
    QString result = QString::fromLatin1(text).trimmed();
    for (QChar& c : result)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) c = QLatin1Char('?');
    return result;
}

QString TextOf(const OFCondition& condition) {
    return QString::fromLatin1(condition.text()).replace(QLatin1Char('\n'), QLatin1String("; "));
}

void Reject(T_ASC_Association* association, T_ASC_RejectParametersReason reason) {
    T_ASC_RejectParameters rejection{ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, reason};
    ASC_rejectAssociation(association, &rejection);
}

struct Refusal {
    T_ASC_RejectParametersReason reason;
    const char* why;  // for the activity log
};

// No standard reason speaks of addresses; "no reason given" tells a peer
// from outside the allowed networks nothing about the rules, and the
// permanent rejection tells it not to try again as it is.
Refusal RefusalFor(AccessRules::Verdict verdict) {
    switch (verdict) {
        case AccessRules::Verdict::AddressNotAllowed:
            return {ASC_REASON_SU_NOREASON,
                    "address not allowed (AllowedNetworks), rejected with no reason given"};
        case AccessRules::Verdict::CallingAeNotAllowed:
            return {ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED,
                    "calling AE title not recognised (AllowedCallingAETitles)"};
        case AccessRules::Verdict::CalledAeNotAllowed:
        case AccessRules::Verdict::Allowed:
            break;
    }
    return {ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED,
            "called AE title not recognised (RequiredCalledAETitle)"};
}

}  // namespace

WorklistAssociation::WorklistAssociation(T_ASC_Association* association, WorkerSlot& slot,
                                         const AssociationContext& context)
    : m_association(association), m_slot(slot), m_context(context) {}

// The access rules decide first; an admitted peer is answered with the
// title it called.
WorklistAssociation::Negotiated WorklistAssociation::Negotiate() {
    if (!Admitted()) return Negotiated::Refused;
    T_ASC_Parameters* params = m_association->params;
    char name[BUFSIZ];
    if (ASC_getApplicationContextName(params, name, sizeof name).bad() ||
        std::strcmp(name, UID_StandardApplicationContext) != 0) {
        Reject(m_association, ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED);
        return Negotiated::Rejected;
    }
    ASC_setAPTitles(params, nullptr, nullptr, params->DULparams.calledAPTitle);
    const int sopClasses = static_cast<int>(std::size(kSopClasses)) - (m_context.steps ? 0 : 1);
    OFStandard::strlcpy(params->ourImplementationClassUID, Implementation::kClassUid,
                        sizeof params->ourImplementationClassUID);
    OFStandard::strlcpy(params->ourImplementationVersionName,
                        Implementation::VersionName().constData(),
                        sizeof params->ourImplementationVersionName);
    ASC_acceptContextsWithPreferredTransferSyntaxes(params, const_cast<const char**>(kSopClasses),
                                                    sopClasses,
                                                    const_cast<const char**>(kTransferSyntaxes),
                                                    static_cast<int>(std::size(kTransferSyntaxes)));
    if (ASC_countAcceptedPresentationContexts(params) == 0) {
        Reject(m_association, ASC_REASON_SU_NOREASON);
        return Negotiated::Rejected;
    }
    m_slot.SetDeadline(DimseTime());
    return ASC_acknowledgeAssociation(m_association).good() ? Negotiated::Accepted
                                                            : Negotiated::Rejected;
}

bool WorklistAssociation::Admitted() {
    const DUL_ASSOCIATESERVICEPARAMETERS& dul = m_association->params->DULparams;
    const AccessRules::Verdict verdict = m_context.access.Check(
        QString::fromLatin1(dul.callingPresentationAddress),
        QString::fromLatin1(dul.callingAPTitle), QString::fromLatin1(dul.calledAPTitle));
    if (verdict == AccessRules::Verdict::Allowed) return true;
    const Refusal refusal = RefusalFor(verdict);
    Reject(m_association, refusal.reason);
    Note(QStringLiteral("Association refused from %1; %2")
             .arg(PeerText(), QLatin1String(refusal.why)));
    return false;
}

// "ADDRESS: calling AE X, called AE Y", and how the connection is secured:
// the same words for an association served and one refused.
QString WorklistAssociation::PeerText() const {
    const DUL_ASSOCIATESERVICEPARAMETERS& dul = m_association->params->DULparams;
    return QStringLiteral("%1: calling AE %2, called AE %3%4")
        .arg(Printable(dul.callingPresentationAddress), Printable(dul.callingAPTitle),
             Printable(dul.calledAPTitle), TlsNoteOf(m_association));
}

// The start stays at the head of the window's log while the association is
// open, so a query's fresh log still says whom it answers.
QString WorklistAssociation::Serve(unsigned long long id) {
    m_id = id;
    m_context.log.LogPinned(m_id, QStringLiteral("Association %1 from %2").arg(m_id).arg(PeerText()));
    if (m_context.status) m_context.status->AssociationOpened();
    const auto began = std::chrono::steady_clock::now();
    const QString end = RunCommands();
    const std::chrono::duration<double> lasted = std::chrono::steady_clock::now() - began;
    m_context.log.Unpin(m_id);
    if (m_context.status) m_context.status->AssociationClosed();
    return QStringLiteral("Association %1 ended after %2 s: %3")
        .arg(m_id)
        .arg(lasted.count(), 0, 'f', 2)
        .arg(end);
}

QString WorklistAssociation::RunCommands() {
    const int idle = m_context.limits.idleAssociationTimeout;
    for (;;) {
        // The listener sets its stop flag before it looks at the phases, so
        // either it sees this wait or the wait sees the flag.
        m_slot.SetPhase(WorkerSlot::Phase::Waiting);
        if (m_context.stopping.load()) return Abort(QStringLiteral("the server is stopping"));
        m_slot.SetDeadline(std::chrono::seconds(idle) + kClosingTime);
        if (!MessageComing(idle)) return EndIdle();
        // From its first byte, the whole message (its identifier too) must
        // arrive within the DIMSE time-out, however the bytes trickle in.
        m_slot.SetDeadline(DimseTime());
        T_DIMSE_Message message{};
        T_ASC_PresentationContextID presentation = 0;
        m_receiving = true;
        const OFCondition received =
            DIMSE_receiveCommand(m_association, DIMSE_NONBLOCKING, ReadTimeoutSeconds(),
                                 &presentation, &message, nullptr);
        if (received == DIMSE_NODATAAVAILABLE) return EndIdle();
        if (received == DUL_PEERREQUESTEDRELEASE || received == DUL_PEERABORTEDASSOCIATION ||
            received.bad())
            return Ended(received);
        m_receiving = false;
        m_slot.SetPhase(WorkerSlot::Phase::Busy);
        const OFCondition handled = Handle(message, presentation);
        if (handled.bad()) return Ended(handled);
    }
}

// Bytes of the next message are there (received already, or waiting on the
// connection), or the idle time passed without any.
bool WorklistAssociation::MessageComing(int idleSeconds) {
    const auto* key =
        reinterpret_cast<const PRIVATE_ASSOCIATIONKEY*>(m_association->DULassociation);
    if (key != nullptr && key->pdvIndex != -1) return true;
    return ASC_dataWaiting(m_association, idleSeconds);
}

QString WorklistAssociation::Ended(const OFCondition& condition) {
    m_slot.SetPhase(WorkerSlot::Phase::Ending);
    if (condition == DUL_PEERREQUESTEDRELEASE) {
        m_slot.SetDeadline(kClosingTime);
        ASC_acknowledgeRelease(m_association);
        return QStringLiteral("released by the peer");
    }
    // A stopping listener interrupts the wait, and the watchdog cuts a
    // connection whose time is up; both look like the peer closing it.
    if (m_context.stopping.load()) return Abort(QStringLiteral("the server is stopping"));
    if (m_slot.TimedOut())
        return m_receiving ? QStringLiteral("the peer took longer than %1 s to send one message")
                                 .arg(DimseTime().count())
                           : StoppedReading(DimseTime());
    if (condition == DUL_PEERABORTEDASSOCIATION)
        return QStringLiteral("aborted or closed by the peer");
    return Abort(TextOf(condition));
}

QString WorklistAssociation::StoppedReading(std::chrono::seconds time) const {
    return QStringLiteral("the peer stopped reading: what was sent to it was not taken for %1 s")
        .arg(time.count());
}

// Nothing came for the idle time: the association is released, or aborted
// when the peer does not answer the release request.
QString WorklistAssociation::EndIdle() {
    m_slot.SetPhase(WorkerSlot::Phase::Ending);
    const std::chrono::seconds idleTime(m_context.limits.idleAssociationTimeout);
    // A peer that is sent something and never takes it sends nothing either;
    // a release request would not reach it.
    if (m_slot.UnsentBytes() > 0)
        return Abort(StoppedReading(idleTime) + QStringLiteral(", aborted"));
    m_slot.SetDeadline(kClosingTime);
    const QString idle = QStringLiteral("no message for %1 s").arg(idleTime.count());
    if (ASC_releaseAssociation(m_association).good()) return idle + QStringLiteral(", released");
    ASC_abortAssociation(m_association);
    return idle + QStringLiteral(", aborted");
}

QString WorklistAssociation::Abort(const QString& why) {
    m_slot.SetPhase(WorkerSlot::Phase::Ending);
    m_slot.SetDeadline(kClosingTime);
    ASC_abortAssociation(m_association);
    return why;
}

OFCondition WorklistAssociation::Handle(T_DIMSE_Message& message,
                                        T_ASC_PresentationContextID presentation) {
    switch (message.CommandField) {
        case DIMSE_C_ECHO_RQ:
            return AnswerEcho(message.msg.CEchoRQ, presentation);
        case DIMSE_C_FIND_RQ:
            return AnswerFind(message.msg.CFindRQ, presentation);
        case DIMSE_N_CREATE_RQ:
        case DIMSE_N_SET_RQ:
            return AnswerStep(message, presentation);
        case DIMSE_C_CANCEL_RQ:
            // The query it meant has ended already (its final response may
            // have crossed the cancel on the wire): nothing to stop.
            Note(QStringLiteral("Association %1: C-CANCEL with no query in progress, ignored")
                     .arg(m_id));
            return EC_Normal;
        default:
            return makeDcmnetCondition(
                DIMSEC_BADCOMMANDTYPE, OF_error,
                QStringLiteral("unsupported DIMSE command 0x%1")
                    .arg(static_cast<unsigned>(message.CommandField), 4, 16, QLatin1Char('0'))
                    .toLatin1()
                    .constData());
    }
}

OFCondition WorklistAssociation::AnswerEcho(T_DIMSE_C_EchoRQ& request,
                                            T_ASC_PresentationContextID presentation) {
    if (AbstractSyntaxOf(presentation) != QLatin1String(UID_VerificationSOPClass))
        return makeDcmnetCondition(DIMSEC_BADCOMMANDTYPE, OF_error,
                                   "C-ECHO on a context that is not Verification");
    m_slot.SetDeadline(DimseTime());
    return DIMSE_sendEchoResponse(m_association, presentation, &request, STATUS_Success, nullptr);
}

OFCondition WorklistAssociation::AnswerFind(T_DIMSE_C_FindRQ& request,
                                            T_ASC_PresentationContextID presentation) {
    if (request.DataSetType == DIMSE_DATASET_NULL) return DIMSE_BADMESSAGE;
    m_receiving = true;
    IdentifierReader::Result identifier =
        IdentifierReader::Read(m_association, presentation, ReadTimeoutSeconds());
    if (identifier.network.bad()) return identifier.network;
    m_receiving = false;
    if (identifier.refusal) {
        const QString why = ErrorCommentFor(*identifier.refusal);
        Note(QStringLiteral("Association %1: query refused: %2").arg(m_id).arg(why));
        CountQuery(false);
        return SendStatus(request, presentation, STATUS_FIND_Failed_UnableToProcess, why);
    }
    FindChannel::Limits limits;
    limits.stallTimeout = DimseTime();
    auto channel = std::make_shared<FindChannel>(RootOf(request.AffectedSOPClassUID),
                                                 DicomDataset(std::move(identifier.dataset)), limits);
    m_context.dispatcher.Dispatch(channel);
    const OFCondition status = Stream(*channel, request, presentation);
    if (status.bad()) channel->Cancel();
    return status;
}

// The step handler may take its whole answer time before the response goes
// out; the peer is not held to the DIMSE time-out for that.
OFCondition WorklistAssociation::AnswerStep(T_DIMSE_Message& message,
                                            T_ASC_PresentationContextID presentation) {
    const std::chrono::seconds handling =
        m_context.steps ? m_context.steps->LongestAnswer() : std::chrono::seconds(0);
    m_slot.SetDeadline(DimseTime() * 2 + handling);
    StepExchange exchange(m_association, presentation, m_context.limits.dimseTimeout);
    const QString calling = Printable(m_association->params->DULparams.callingAPTitle);
    const OFCondition status =
        message.CommandField == DIMSE_N_CREATE_RQ
            ? exchange.AnswerCreate(message.msg.NCreateRQ, m_context.steps, calling)
            : exchange.AnswerSet(message.msg.NSetRQ, m_context.steps, calling);
    if (!exchange.Refusal().isEmpty())
        Note(QStringLiteral("Association %1: performed procedure step message refused: %2")
                 .arg(m_id)
                 .arg(exchange.Refusal()));
    return status;
}

// Matches are sent as they arrive. While more are queued they are written
// into held-back packets; the output is released when the queue runs dry and
// with the final status, so the modality never waits for a match that exists.
OFCondition WorklistAssociation::Stream(FindChannel& channel, T_DIMSE_C_FindRQ& request,
                                        T_ASC_PresentationContextID presentation) {
    MatchSender matches(m_association, presentation, request,
                        static_cast<Uint16>(m_context.limits.pendingStatus));
    unsigned sinceCancelCheck = 0;
    for (;;) {
        FindChannel::Event event = channel.Next(kPollInterval);
        // Waiting for the handler is not the peer's fault; only a send that
        // does not get through counts against it.
        m_slot.SetDeadline(DimseTime());
        if (event.kind != FindChannel::Kind::Match) Hold(false);
        switch (event.kind) {
            case FindChannel::Kind::Match: {
                Hold(event.more);
                const OFCondition sent = matches.Send(event.match);
                if (sent.bad()) return sent;
                channel.Recycle(std::move(event.match));
                break;
            }
            case FindChannel::Kind::Success:
                CountQuery(true);
                return Released(SendResponse(request, presentation, STATUS_FIND_Success));
            case FindChannel::Kind::Failure:
                CountQuery(false);
                return Released(SendStatus(request, presentation,
                                           STATUS_FIND_Failed_UnableToProcess, event.why));
            case FindChannel::Kind::Idle:
                break;
        }
        // Looking for a C-CANCEL costs a poll: between bursts, and every so
        // many matches within one.
        if (event.more && ++sinceCancelCheck < kMatchesPerCancelCheck) continue;
        sinceCancelCheck = 0;
        bool cancelled = false;
        const OFCondition checked = CheckForCancel(request, presentation, cancelled);
        if (checked.bad()) return Released(checked);
        if (cancelled) {
            channel.Cancel();
            Hold(false);
            return SendStatus(request, presentation, STATUS_FIND_Cancel, QString());
        }
    }
}

// A C-CANCEL for this query sets cancelled. Another command in its place is
// dropped, as the toolkit's check does; the peer gone is an error.
OFCondition WorklistAssociation::CheckForCancel(T_DIMSE_C_FindRQ& request,
                                                T_ASC_PresentationContextID presentation,
                                                bool& cancelled) {
    const OFCondition result =
        DIMSE_checkForCancelRQ(m_association, presentation, request.MessageID);
    cancelled = result.good();
    if (result.good() || result == DIMSE_NODATAAVAILABLE) return EC_Normal;
    if (result.code() == DIMSEC_UNEXPECTEDREQUEST ||
        result.code() == DIMSEC_INVALIDPRESENTATIONCONTEXTID)
        return EC_Normal;
    return result;
}

OFCondition WorklistAssociation::SendResponse(T_DIMSE_C_FindRQ& request,
                                              T_ASC_PresentationContextID presentation,
                                              Uint16 status, DcmDataset* detail) {
    T_DIMSE_Message response{};
    response.CommandField = DIMSE_C_FIND_RSP;
    T_DIMSE_C_FindRSP& find = response.msg.CFindRSP;
    find.MessageIDBeingRespondedTo = request.MessageID;
    find.DimseStatus = status;
    find.opts = O_FIND_AFFECTEDSOPCLASSUID;
    OFStandard::strlcpy(find.AffectedSOPClassUID, request.AffectedSOPClassUID,
                        sizeof find.AffectedSOPClassUID);
    find.DataSetType = DIMSE_DATASET_NULL;
    return DIMSE_sendMessageUsingMemoryData(m_association, presentation, &response, detail, nullptr,
                                            nullptr, nullptr, nullptr);
}

OFCondition WorklistAssociation::SendStatus(T_DIMSE_C_FindRQ& request,
                                            T_ASC_PresentationContextID presentation, Uint16 status,
                                            const QString& comment) {
    if (comment.isEmpty()) return SendResponse(request, presentation, status);
    DcmDataset detail;
    // Error Comment is an LO: at most 64 characters.
    detail.putAndInsertString(DCM_ErrorComment, EncodeLatin1(comment.left(64)).c_str());
    return SendResponse(request, presentation, status, &detail);
}

OFCondition WorklistAssociation::Released(OFCondition status) {
    Hold(false);
    return status;
}

void WorklistAssociation::Hold(bool hold) {
    if (hold == m_holding) return;
    m_holding = hold;
    HoldOutput(m_association, hold);
}

void WorklistAssociation::Note(const QString& text) { m_context.log.Log(text); }

// What the modality was told: a final success, or a failure status.
void WorklistAssociation::CountQuery(bool answered) {
    if (!m_context.status) return;
    if (answered)
        m_context.status->QueryAnswered();
    else
        m_context.status->QueryFailed();
}

// The toolkit's own time-out counts per PDU and in whole seconds; it is set
// past the message's deadline, so the watchdog decides when a message has
// taken too long, and the log says so.
int WorklistAssociation::ReadTimeoutSeconds() const {
    return m_context.limits.dimseTimeout + static_cast<int>(kClosingTime.count());
}

std::chrono::seconds WorklistAssociation::DimseTime() const {
    return std::chrono::seconds(m_context.limits.dimseTimeout);
}

QString WorklistAssociation::AbstractSyntaxOf(T_ASC_PresentationContextID presentation) const {
    T_ASC_PresentationContext context;
    if (ASC_findAcceptedPresentationContext(m_association->params, presentation, &context).bad())
        return QString();
    return QString::fromLatin1(context.abstractSyntax);
}
