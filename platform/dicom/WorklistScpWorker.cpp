#include "platform/dicom/WorklistScpWorker.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmnet/diutil.h>

#include "platform/dicom/CharacterSet.h"
#include "platform/dicom/DicomText.h"
#include "platform/dicom/FindChannel.h"
#include "platform/dicom/FindDispatcher.h"
#include "platform/dicom/SocketTuning.h"

namespace {

constexpr Uint16 kPendingStatus = 0xFF01;
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr unsigned kMatchesPerCancelCheck = 16;

QString RootOf(const OFString& sopClass) {
    if (sopClass == UID_FINDModalityWorklistInformationModel) return QStringLiteral("WORKLIST");
    if (sopClass == UID_FINDPatientRootQueryRetrieveInformationModel)
        return QStringLiteral("PATIENT");
    if (sopClass == UID_FINDStudyRootQueryRetrieveInformationModel) return QStringLiteral("STUDY");
    return QString::fromLatin1(sopClass.c_str());
}

}  // namespace

WorklistScpWorker::WorklistScpWorker(DcmBaseSCPPool& pool, FindDispatcher& dispatcher)
    : DcmBaseSCPPool::DcmBaseSCPWorker(pool), DcmThreadSCP(), m_dispatcher(dispatcher) {}

OFCondition WorklistScpWorker::setSharedConfig(const DcmSharedSCPConfig& config) {
    return DcmThreadSCP::setSharedConfig(config);
}

OFBool WorklistScpWorker::busy() { return DcmThreadSCP::isConnected(); }

OFCondition WorklistScpWorker::workerListen(T_ASC_Association* const assoc) {
    m_association = assoc;
    const OFCondition result = DcmThreadSCP::run(assoc);
    m_association = nullptr;
    m_holding = false;
    return result;
}

OFCondition WorklistScpWorker::handleIncomingCommand(T_DIMSE_Message* message,
                                                     const DcmPresentationContextInfo& info) {
    if (message->CommandField != DIMSE_C_FIND_RQ)
        return DcmThreadSCP::handleIncomingCommand(message, info);
    return AnswerFind(message->msg.CFindRQ, info.presentationContextID);
}

OFCondition WorklistScpWorker::AnswerFind(T_DIMSE_C_FindRQ& request,
                                          T_ASC_PresentationContextID presentation) {
    DcmDataset* received = nullptr;
    OFCondition status = receiveFINDRequest(request, presentation, received);
    if (status.bad()) return status;
    const OFString sopClass = request.AffectedSOPClassUID;
    auto channel = std::make_shared<FindChannel>(
        RootOf(sopClass), DicomDataset(std::unique_ptr<DcmDataset>(received)));
    m_dispatcher.Dispatch(channel);
    status = Stream(*channel, request, presentation, sopClass);
    if (status.bad()) channel->Cancel();
    return status;
}

// Matches are sent as they arrive. While more are queued they are written
// into held-back packets; the output is released when the queue runs dry and
// with the final status, so the modality never waits for a match that exists.
OFCondition WorklistScpWorker::Stream(FindChannel& channel, T_DIMSE_C_FindRQ& request,
                                      T_ASC_PresentationContextID presentation,
                                      const OFString& sopClass) {
    unsigned sinceCancelCheck = 0;
    for (;;) {
        FindChannel::Event event = channel.Next(kPollInterval);
        if (event.kind != FindChannel::Kind::Match) Hold(false);
        switch (event.kind) {
            case FindChannel::Kind::Match: {
                Hold(event.more);
                DeclareCharacterSetIfNeeded(*event.match);
                OFCondition sent = sendFINDResponse(presentation, request.MessageID, sopClass,
                                                    event.match.get(), kPendingStatus);
                if (sent.bad()) return sent;
                channel.Recycle(std::move(event.match));
                break;
            }
            case FindChannel::Kind::Success:
                return Released(SendStatus(request, presentation, sopClass, STATUS_Success, {}));
            case FindChannel::Kind::Failure:
                return Released(SendStatus(request, presentation, sopClass,
                                           STATUS_FIND_Failed_UnableToProcess, event.why));
            case FindChannel::Kind::Idle:
                break;
        }
        // Looking for a C-CANCEL costs a poll: between bursts, and every so
        // many matches within one.
        if (event.more && ++sinceCancelCheck < kMatchesPerCancelCheck) continue;
        sinceCancelCheck = 0;
        if (CancelRequested(request, presentation)) {
            channel.Cancel();
            Hold(false);
            return SendStatus(request, presentation, sopClass, STATUS_FIND_Cancel, QString());
        }
    }
}

OFCondition WorklistScpWorker::Released(OFCondition status) {
    Hold(false);
    return status;
}

void WorklistScpWorker::Hold(bool hold) {
    if (hold == m_holding) return;
    m_holding = hold;
    HoldOutput(m_association, hold);
}

bool WorklistScpWorker::CancelRequested(T_DIMSE_C_FindRQ& request,
                                        T_ASC_PresentationContextID presentation) {
    return checkForCANCEL(presentation, request.MessageID).good();
}

OFCondition WorklistScpWorker::SendStatus(T_DIMSE_C_FindRQ& request,
                                          T_ASC_PresentationContextID presentation,
                                          const OFString& sopClass, Uint16 status,
                                          const QString& comment) {
    if (comment.isEmpty())
        return sendFINDResponse(presentation, request.MessageID, sopClass, nullptr, status);
    DcmDataset detail;
    // Error Comment is an LO: at most 64 characters.
    detail.putAndInsertString(DCM_ErrorComment, EncodeLatin1(comment.left(64)).c_str());
    return sendFINDResponse(presentation, request.MessageID, sopClass, nullptr, status, &detail);
}
