#pragma once

#include <dcmtk/dcmnet/assoc.h>

#include <QString>
#include <memory>
#include <string_view>

class DcmDataset;

// Receives the identifier of a C-FIND request and parses it only when it is
// safe to: the toolkit's parser recurses once per nesting level, so a peer
// could crash the process with a deeply nested identifier. The bytes are
// received unparsed first; an identifier larger than kMaxBytes, or holding
// more than kMaxItems sequence items, is refused. Every nesting level needs an
// item of its own, so the parser never recurses deeper than kMaxItems.
class IdentifierReader {
public:
    static constexpr size_t kMaxBytes = 1024 * 1024;
    static constexpr size_t kMaxItems = 256;

    struct Result {
        OFCondition network = EC_Normal;  // bad: the association cannot go on
        std::unique_ptr<DcmDataset> dataset;
        // Set when the identifier is refused: the Error Comment for the peer.
        QString refusal;
    };

    static Result Read(T_ASC_Association* association, T_ASC_PresentationContextID presentation,
                       int timeoutSeconds);

    // How many item tags (FFFE,E000), little endian, the bytes hold at any
    // offset: an upper bound of the items, and so of the nesting depth, that
    // any parse of them can meet.
    static size_t CountItemTags(std::string_view bytes);
};
