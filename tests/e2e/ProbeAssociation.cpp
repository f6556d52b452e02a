#include "e2e/ProbeAssociation.h"

#include <sys/socket.h>

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dul.h>

#include <algorithm>

namespace {

const char* const kImplicit[] = {UID_LittleEndianImplicitTransferSyntax};
constexpr T_ASC_PresentationContextID kEchoContext = 1;
constexpr T_ASC_PresentationContextID kFindContext = 3;
constexpr int kDimseTimeout = 30;

void Append16(std::string& bytes, Uint16 value) {
    bytes.push_back(static_cast<char>(value & 0xff));
    bytes.push_back(static_cast<char>(value >> 8));
}

void Append32(std::string& bytes, Uint32 value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(value >> shift));
}

void AppendElement(std::string& bytes, Uint16 group, Uint16 element, const std::string& value) {
    Append16(bytes, group);
    Append16(bytes, element);
    Append32(bytes, static_cast<Uint32>(value.size()));
    bytes += value;
}

std::string Us(Uint16 value) {
    std::string bytes;
    Append16(bytes, value);
    return bytes;
}

// A C-FIND-RQ command set, Implicit VR Little Endian with its group length.
std::string FindCommand(Uint16 messageId) {
    std::string uid = UID_FINDModalityWorklistInformationModel;
    if (uid.size() % 2) uid.push_back('\0');
    std::string body;
    AppendElement(body, 0x0000, 0x0002, uid);
    AppendElement(body, 0x0000, 0x0100, Us(0x0020));
    AppendElement(body, 0x0000, 0x0110, Us(messageId));
    AppendElement(body, 0x0000, 0x0700, Us(0));
    AppendElement(body, 0x0000, 0x0800, Us(0x0000));  // a data set follows
    std::string command;
    std::string length;
    Append32(length, static_cast<Uint32>(body.size()));
    AppendElement(command, 0x0000, 0x0000, length);
    return command + body;
}

}  // namespace

std::string NestedIdentifier(int depth) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(depth) * 32 + 16);
    for (int level = 0; level < depth; ++level) {
        Append16(bytes, 0x0040);
        Append16(bytes, 0x0100);
        Append32(bytes, 0xffffffff);
        Append16(bytes, 0xfffe);
        Append16(bytes, 0xe000);
        Append32(bytes, 0xffffffff);
    }
    AppendElement(bytes, 0x0008, 0x0060, "CR");
    for (int level = 0; level < depth; ++level) {
        Append16(bytes, 0xfffe);
        Append16(bytes, 0xe00d);
        Append32(bytes, 0);
        Append16(bytes, 0xfffe);
        Append16(bytes, 0xe0dd);
        Append32(bytes, 0);
    }
    return bytes;
}

std::string IdentifierElement(Uint16 group, Uint16 element, std::string value) {
    if (value.size() % 2) value.push_back(' ');
    std::string bytes;
    AppendElement(bytes, group, element, value);
    return bytes;
}

std::string StepSequence(const std::string& elements) {
    std::string bytes;
    for (const Uint16 part : {0x0040, 0x0100}) Append16(bytes, part);
    Append32(bytes, 0xffffffff);
    for (const Uint16 part : {0xfffe, 0xe000}) Append16(bytes, part);
    Append32(bytes, 0xffffffff);
    bytes += elements;
    for (const Uint16 part : {0xfffe, 0xe00d}) Append16(bytes, part);
    Append32(bytes, 0);
    for (const Uint16 part : {0xfffe, 0xe0dd}) Append16(bytes, part);
    Append32(bytes, 0);
    return bytes;
}

ProbeAssociation::ProbeAssociation(int port, const char* callingAeTitle)
    : m_port(port), m_callingAeTitle(callingAeTitle) {}

ProbeAssociation::~ProbeAssociation() {
    Abort();
    if (m_network) ASC_dropNetwork(&m_network);
}

testing::AssertionResult ProbeAssociation::Open(int timeoutSeconds) {
    if (!m_network) {
        const OFCondition made =
            ASC_initializeNetwork(NET_REQUESTOR, 0, timeoutSeconds, &m_network);
        if (made.bad()) return testing::AssertionFailure() << made.text();
    }
    T_ASC_Parameters* params = nullptr;
    ASC_createAssociationParameters(&params, ASC_DEFAULTMAXPDU);
    ASC_setAPTitles(params, m_callingAeTitle.c_str(), "ANY-SCP", nullptr);
    const std::string peer = "127.0.0.1:" + std::to_string(m_port);
    ASC_setPresentationAddresses(params, "localhost", peer.c_str());
    ASC_addPresentationContext(params, kEchoContext, UID_VerificationSOPClass,
                               const_cast<const char**>(kImplicit), 1);
    ASC_addPresentationContext(params, kFindContext, UID_FINDModalityWorklistInformationModel,
                               const_cast<const char**>(kImplicit), 1);
    const OFCondition requested = ASC_requestAssociation(m_network, params, &m_association);
    if (requested.good()) return testing::AssertionSuccess();
    if (requested == DUL_ASSOCIATIONREJECTED) {
        T_ASC_RejectParameters rejection;
        ASC_getRejectParameters(params, &rejection);
        m_refusedAsBusy = rejection.reason == ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED;
    }
    ASC_destroyAssociation(&m_association);
    return testing::AssertionFailure() << "association request failed: " << requested.text();
}

// The toolkit keeps the connection's socket to itself; a class of our own
// names its accessor, which reaches it through a pointer to the member.
struct SocketAccess : DcmTransportConnection {
    using DcmTransportConnection::getSocket;
};

void ProbeAssociation::ShrinkReceiveBuffer(int bytes) {
    if (!m_association) return;
    DcmTransportConnection* connection = DUL_getTransportConnection(m_association->DULassociation);
    const DcmNativeSocketType socket = (connection->*(&SocketAccess::getSocket))();
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

testing::AssertionResult ProbeAssociation::Echo() {
    if (!m_association) return testing::AssertionFailure() << "no association";
    DIC_US status = 0;
    DcmDataset* detail = nullptr;
    const OFCondition echoed = DIMSE_echoUser(m_association, m_nextMessageId++, DIMSE_BLOCKING,
                                              kDimseTimeout, &status, &detail);
    delete detail;
    if (echoed.bad()) return testing::AssertionFailure() << "C-ECHO failed: " << echoed.text();
    if (status != STATUS_Success) return testing::AssertionFailure() << "C-ECHO status " << status;
    return testing::AssertionSuccess();
}

testing::AssertionResult ProbeAssociation::SendFind(DcmDataset& keys) {
    if (!m_association) return testing::AssertionFailure() << "no association";
    T_DIMSE_Message message{};
    message.CommandField = DIMSE_C_FIND_RQ;
    T_DIMSE_C_FindRQ& request = message.msg.CFindRQ;
    m_lastMessageId = m_nextMessageId++;
    request.MessageID = m_lastMessageId;
    request.DataSetType = DIMSE_DATASET_PRESENT;
    request.Priority = DIMSE_PRIORITY_MEDIUM;
    OFStandard::strlcpy(request.AffectedSOPClassUID, UID_FINDModalityWorklistInformationModel,
                        sizeof request.AffectedSOPClassUID);
    const OFCondition sent = DIMSE_sendMessageUsingMemoryData(
        m_association, FindContext(), &message, nullptr, &keys, nullptr, nullptr, nullptr);
    if (sent.bad()) return testing::AssertionFailure() << "C-FIND not sent: " << sent.text();
    return testing::AssertionSuccess();
}

testing::AssertionResult ProbeAssociation::SendFindOnly() {
    DcmDataset keys;
    keys.putAndInsertString(DCM_PatientName, "");
    DcmItem* step = nullptr;
    keys.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    step->putAndInsertString(DCM_Modality, "CR");
    return SendFind(keys);
}

FindReply ProbeAssociation::Find() {
    if (!SendFindOnly()) return FindReply();
    return ReadFindResponses();
}

FindReply ProbeAssociation::FindRaw(const std::string& identifier) {
    if (!m_association) return FindReply();
    m_lastMessageId = m_nextMessageId++;
    if (!WritePdv(FindCommand(m_lastMessageId), true, true)) return FindReply();
    const size_t fragment = std::max<size_t>(m_association->sendPDVLength, 1024) - 16;
    for (size_t at = 0; at < identifier.size(); at += fragment) {
        const bool last = at + fragment >= identifier.size();
        if (!WritePdv(identifier.substr(at, fragment), false, last)) return FindReply();
    }
    return ReadFindResponses();
}

testing::AssertionResult ProbeAssociation::SendFindAndStall() {
    if (!m_association) return testing::AssertionFailure() << "no association";
    m_lastMessageId = m_nextMessageId++;
    if (!WritePdv(FindCommand(m_lastMessageId), true, true))
        return testing::AssertionFailure() << "command not sent";
    // P-DATA-TF announcing 64 bytes: one PDV of 58 identifier bytes, 8 sent.
    std::string pdu("\x04\x00\x00\x00\x00\x40\x00\x00\x00\x3a", 10);
    pdu += static_cast<char>(FindContext());
    pdu += '\x02';  // the last fragment of a data set
    pdu += std::string(8, '\0');
    DcmTransportConnection* connection = DUL_getTransportConnection(m_association->DULassociation);
    if (connection->write(pdu.data(), pdu.size()) != static_cast<ssize_t>(pdu.size()))
        return testing::AssertionFailure() << "partial PDU not sent";
    return testing::AssertionSuccess();
}

testing::AssertionResult ProbeAssociation::WritePdv(const std::string& bytes, bool command,
                                                    bool last) {
    std::string data = bytes;
    DUL_PDV pdv{};
    pdv.fragmentLength = static_cast<unsigned long>(data.size());
    pdv.presentationContextID = FindContext();
    pdv.pdvType = command ? DUL_COMMANDPDV : DUL_DATASETPDV;
    pdv.lastPDV = last ? OFTrue : OFFalse;
    pdv.data = data.data();
    DUL_PDVLIST list{};
    list.count = 1;
    list.pdv = &pdv;
    const OFCondition written = DUL_WritePDVs(&m_association->DULassociation, &list);
    if (written.bad()) return testing::AssertionFailure() << "PDV not sent: " << written.text();
    return testing::AssertionSuccess();
}

FindReply ProbeAssociation::ReadFindResponses() {
    FindReply reply;
    for (;;) {
        T_DIMSE_Message message{};
        T_ASC_PresentationContextID presentation = 0;
        DcmDataset* detail = nullptr;
        const OFCondition received = DIMSE_receiveCommand(
            m_association, DIMSE_BLOCKING, kDimseTimeout, &presentation, &message, &detail);
        if (received.bad()) return reply;
        const T_DIMSE_C_FindRSP& response = message.msg.CFindRSP;
        if (response.DataSetType != DIMSE_DATASET_NULL) {
            DcmDataset* match = nullptr;
            DIMSE_receiveDataSetInMemory(m_association, DIMSE_BLOCKING, kDimseTimeout,
                                         &presentation, &match, nullptr, nullptr);
            delete match;
        }
        if (DICOM_PENDING_STATUS(response.DimseStatus)) {
            ++reply.pending;
            reply.pendingStatuses.insert(response.DimseStatus);
            delete detail;
            continue;
        }
        reply.status = response.DimseStatus;
        OFString comment;
        if (detail && detail->findAndGetOFString(DCM_ErrorComment, comment).good())
            reply.errorComment = QString::fromLatin1(comment.c_str()).trimmed();
        delete detail;
        return reply;
    }
}

testing::AssertionResult ProbeAssociation::Cancel(Uint16 messageId) {
    if (!m_association) return testing::AssertionFailure() << "no association";
    const OFCondition sent = DIMSE_sendCancelRequest(m_association, FindContext(), messageId);
    if (sent.bad()) return testing::AssertionFailure() << "C-CANCEL not sent: " << sent.text();
    return testing::AssertionSuccess();
}

testing::AssertionResult ProbeAssociation::Release() {
    if (!m_association) return testing::AssertionFailure() << "no association";
    const OFCondition released = ASC_releaseAssociation(m_association);
    ASC_destroyAssociation(&m_association);
    if (released.bad()) return testing::AssertionFailure() << "release failed: " << released.text();
    return testing::AssertionSuccess();
}

void ProbeAssociation::Abort() {
    if (!m_association) return;
    ASC_abortAssociation(m_association);
    ASC_destroyAssociation(&m_association);
}

void ProbeAssociation::Drop() {
    if (!m_association) return;
    ASC_dropAssociation(m_association);
    ASC_destroyAssociation(&m_association);
}

testing::AssertionResult ProbeAssociation::AwaitReleaseRequest(int timeoutSeconds) {
    if (!m_association) return testing::AssertionFailure() << "no association";
    T_DIMSE_Message message{};
    T_ASC_PresentationContextID presentation = 0;
    const OFCondition received = DIMSE_receiveCommand(
        m_association, DIMSE_NONBLOCKING, timeoutSeconds, &presentation, &message, nullptr);
    if (received != DUL_PEERREQUESTEDRELEASE)
        return testing::AssertionFailure() << "no release request: " << received.text();
    ASC_acknowledgeRelease(m_association);
    ASC_destroyAssociation(&m_association);
    return testing::AssertionSuccess();
}

T_ASC_PresentationContextID ProbeAssociation::FindContext() const { return kFindContext; }
