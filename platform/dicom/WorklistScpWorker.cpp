#include "platform/dicom/WorklistScpWorker.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmnet/diutil.h>

#include "platform/dicom/CharacterSet.h"
#include "platform/dicom/DicomText.h"
#include "platform/dicom/FindChannel.h"
#include "platform/dicom/FindDispatcher.h"

namespace {

constexpr Uint16 kPendingStatus = 0xFF01;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

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
    return DcmThreadSCP::run(assoc);
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

OFCondition WorklistScpWorker::Stream(FindChannel& channel, T_DIMSE_C_FindRQ& request,
                                      T_ASC_PresentationContextID presentation,
                                      const OFString& sopClass) {
    for (;;) {
        FindChannel::Event event = channel.Next(kPollInterval);
        switch (event.kind) {
            case FindChannel::Kind::Match: {
                DeclareCharacterSetIfNeeded(*event.match);
                OFCondition sent = sendFINDResponse(presentation, request.MessageID, sopClass,
                                                    event.match.get(), kPendingStatus);
                if (sent.bad()) return sent;
                break;
            }
            case FindChannel::Kind::Success:
                return SendStatus(request, presentation, sopClass, STATUS_Success, QString());
            case FindChannel::Kind::Failure:
                return SendStatus(request, presentation, sopClass,
                                  STATUS_FIND_Failed_UnableToProcess, event.why);
            case FindChannel::Kind::Idle:
                break;
        }
        if (CancelRequested(request, presentation)) {
            channel.Cancel();
            return SendStatus(request, presentation, sopClass, STATUS_FIND_Cancel, QString());
        }
    }
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
