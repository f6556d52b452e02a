#include "platform/dicom/MatchSender.h"

#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dul.h>

#include <cstring>

namespace {

constexpr Uint16 kFindResponse = 0x8020;
constexpr Uint16 kDatasetPresent = 0x0001;

void PutLittleEndian(std::string& out, Uint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// One command element in implicit VR little endian, the encoding of every
// DIMSE command.
void PutElement(std::string& out, Uint16 element, const std::string& value) {
    PutLittleEndian(out, 0x0000, 2);
    PutLittleEndian(out, element, 2);
    PutLittleEndian(out, static_cast<Uint32>(value.size()), 4);
    out += value;
}

std::string Number(Uint16 value) {
    std::string bytes;
    PutLittleEndian(bytes, value, 2);
    return bytes;
}

// C-FIND-RSP, pending, with a dataset: the command group with its length
// first, the affected SOP class UID padded with NUL to an even length.
std::string PendingCommand(const T_DIMSE_C_FindRQ& request, Uint16 status) {
    std::string uid = request.AffectedSOPClassUID;
    if (uid.size() % 2) uid += '\0';
    std::string elements;
    PutElement(elements, 0x0002, uid);
    PutElement(elements, 0x0100, Number(kFindResponse));
    PutElement(elements, 0x0120, Number(request.MessageID));
    PutElement(elements, 0x0800, Number(kDatasetPresent));
    PutElement(elements, 0x0900, Number(status));
    std::string command;
    std::string length;
    PutLittleEndian(length, static_cast<Uint32>(elements.size()), 4);
    PutElement(command, 0x0000, length);
    return command + elements;
}

}  // namespace

MatchSender::MatchSender(T_ASC_Association* association, T_ASC_PresentationContextID presentation,
                         const T_DIMSE_C_FindRQ& request, Uint16 pendingStatus)
    : m_association(association),
      m_presentation(presentation),
      m_command(PendingCommand(request, pendingStatus)) {
    T_ASC_PresentationContext context;
    if (ASC_findAcceptedPresentationContext(association->params, presentation, &context).bad()) {
        m_unusable = DIMSE_BADDATA;
        return;
    }
    if (std::strcmp(context.acceptedTransferSyntax, UID_LittleEndianImplicitTransferSyntax) == 0)
        m_explicitVr = false;
    else if (std::strcmp(context.acceptedTransferSyntax, UID_LittleEndianExplicitTransferSyntax) !=
             0)
        m_unusable = DIMSE_BADDATA;
}

OFCondition MatchSender::Send(const MatchDataset& match) {
    if (m_unusable.bad()) return m_unusable;
    m_data.clear();
    match.Encode(m_explicitVr, m_data);
    const OFCondition command = Write(m_command, DUL_COMMANDPDV);
    return command.bad() ? command : Write(m_data, DUL_DATASETPDV);
}

// As many PDVs as the peer's largest PDU needs, each in a P-DATA PDU of its
// own, as the toolkit's DIMSE layer sends them.
OFCondition MatchSender::Write(const std::string& bytes, DUL_DATAPDV type) {
    unsigned long room = m_association->sendPDVLength;
    const Uint32 largestPdu = dcmMaxOutgoingPDUSize.get();
    if (room + 12 > largestPdu) room = largestPdu - 12;
    room &= ~1ul;
    size_t sent = 0;
    do {
        const size_t length = std::min<size_t>(room, bytes.size() - sent);
        DUL_PDV pdv{};
        pdv.fragmentLength = length;
        pdv.presentationContextID = m_presentation;
        pdv.pdvType = type;
        pdv.lastPDV = sent + length == bytes.size() ? OFTrue : OFFalse;
        pdv.data = const_cast<char*>(bytes.data() + sent);
        DUL_PDVLIST list{};
        list.count = 1;
        list.pdv = &pdv;
        const OFCondition written = DUL_WritePDVs(&m_association->DULassociation, &list);
        if (written.bad())
            return makeDcmnetSubCondition(DIMSEC_SENDFAILED, OF_error,
                                          "DIMSE Failed to send message", written);
        sent += length;
    } while (sent < bytes.size());
    return EC_Normal;
}
