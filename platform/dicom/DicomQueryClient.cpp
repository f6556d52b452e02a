#include "platform/dicom/DicomQueryClient.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scu.h>

#include <memory>

#include "platform/MwlError.h"
#include "platform/dicom/CharacterSet.h"

namespace {

const char* SopClassFor(const QString& root) {
    if (root == QLatin1String("WORKLIST")) return UID_FINDModalityWorklistInformationModel;
    if (root == QLatin1String("PATIENT")) return UID_FINDPatientRootQueryRetrieveInformationModel;
    if (root == QLatin1String("STUDY")) return UID_FINDStudyRootQueryRetrieveInformationModel;
    throw MwlError(QStringLiteral("Unknown query root '%1'.").arg(root));
}

QString Describe(const FindTarget& target) {
    return QStringLiteral("%1 at %2 port %3").arg(target.calledAe, target.host).arg(target.port);
}

[[noreturn]] void Failed(const FindTarget& target, const QString& what, const OFCondition& why) {
    throw MwlError(QStringLiteral("%1 with %2 failed: %3")
                       .arg(what, Describe(target), QString::fromLatin1(why.text())));
}

bool IsPending(Uint16 status) { return status == STATUS_Pending || status == 0xFF01; }

// Success, a warning or a cancel end a query normally; anything else is a
// failure of the peer.
bool EndsNormally(Uint16 status) {
    return status == STATUS_Success || (status & 0xF000) == 0xB000 || status == STATUS_FIND_Cancel;
}

QString ErrorComment(const QRResponse& response) {
    OFString comment;
    if (response.m_statusDetail &&
        response.m_statusDetail->findAndGetOFString(DCM_ErrorComment, comment).good())
        return QString::fromLatin1(comment.c_str());
    return QString();
}

// Owns the responses DcmSCU hands out.
struct Responses {
    OFList<QRResponse*> list;
    ~Responses() {
        for (QRResponse* response : list) delete response;
    }
};

std::vector<DicomDataset> Collect(const FindTarget& target, Responses& responses) {
    std::vector<DicomDataset> matches;
    Uint16 final = STATUS_Success;
    for (QRResponse* response : responses.list) {
        if (IsPending(response->m_status) && response->m_dataset) {
            matches.emplace_back(std::unique_ptr<DcmDataset>(response->m_dataset));
            response->m_dataset = nullptr;
        }
        final = response->m_status;
    }
    if (responses.list.empty() || IsPending(final))
        throw MwlError(
            QStringLiteral("%1 ended the query without a final status.").arg(Describe(target)));
    if (!EndsNormally(final)) {
        const QString comment = ErrorComment(*responses.list.back());
        throw MwlError(
            QStringLiteral("%1 answered with failure status %2%3")
                .arg(Describe(target))
                .arg(final, 4, 16, QLatin1Char('0'))
                .arg(comment.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + comment));
    }
    return matches;
}

}  // namespace

std::vector<DicomDataset> DicomQueryClient::Find(const FindTarget& target,
                                                 const DicomDataset& identifier,
                                                 const FindTimeouts& timeouts) {
    if (target.port < 1 || target.port > 65535)
        throw MwlError(QStringLiteral("%1 is not a TCP port.").arg(target.port));
    const char* sopClass = SopClassFor(target.root);
    DcmSCU scu;
    scu.setAETitle(target.callingAe.toStdString().c_str());
    scu.setPeerAETitle(target.calledAe.toStdString().c_str());
    scu.setPeerHostName(target.host.toStdString().c_str());
    scu.setPeerPort(static_cast<Uint16>(target.port));
    scu.setConnectionTimeout(timeouts.connectSeconds);
    scu.setACSETimeout(static_cast<Uint32>(timeouts.acseSeconds));
    scu.setDIMSETimeout(static_cast<Uint32>(timeouts.dimseSeconds));
    // Without it the DIMSE time-out does not apply and a silent peer blocks for good.
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    OFList<OFString> syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    scu.addPresentationContext(sopClass, syntaxes);

    OFCondition status = scu.initNetwork();
    if (status.bad()) Failed(target, QStringLiteral("Network set-up"), status);
    status = scu.negotiateAssociation();
    if (status.bad()) Failed(target, QStringLiteral("Association"), status);
    const T_ASC_PresentationContextID context =
        scu.findAnyPresentationContextID(sopClass, UID_LittleEndianExplicitTransferSyntax);
    if (context == 0) {
        scu.abortAssociation();
        throw MwlError(
            QStringLiteral("%1 does not accept this kind of query.").arg(Describe(target)));
    }
    DcmDataset request(*identifier.Root());
    DeclareCharacterSetIfNeeded(request);
    Responses responses;
    status = scu.sendFINDRequest(context, &request, &responses.list);
    if (status.bad()) {
        scu.abortAssociation();
        Failed(target, QStringLiteral("The query"), status);
    }
    scu.releaseAssociation();
    return Collect(target, responses);
}
