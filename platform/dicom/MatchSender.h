#pragma once

#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <string>

#include "platform/dicom/MatchDataset.h"

// Sends the pending responses of one C-FIND. Their command is the same for
// every match and is encoded once; each match is encoded straight into the
// bytes of its PDVs in the transfer syntax of the presentation context, so a
// match costs no dataset objects of the toolkit on the way out. What goes on
// the wire is what the toolkit's DIMSE layer would send.
class MatchSender {
public:
    MatchSender(T_ASC_Association* association, T_ASC_PresentationContextID presentation,
                const T_DIMSE_C_FindRQ& request, Uint16 pendingStatus);

    OFCondition Send(const MatchDataset& match);

private:
    OFCondition Write(const std::string& bytes, DUL_DATAPDV type);

    T_ASC_Association* m_association;
    T_ASC_PresentationContextID m_presentation;
    bool m_explicitVr = true;
    OFCondition m_unusable = EC_Normal;  // bad: the context has a syntax we do not write
    std::string m_command;
    std::string m_data;
};
