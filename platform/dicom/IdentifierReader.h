#pragma once

#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>

#include <memory>
#include <optional>
#include <string_view>

#include "platform/FailureKind.h"

class DcmDataset;

// How large a received data set may be, and how many sequence items it may
// hold.
struct IdentifierLimits {
    size_t bytes = 1024 * 1024;
    size_t items = 256;
};

// Receives the identifier of a C-FIND request and parses it only when it is
// safe to: the toolkit's parser recurses once per nesting level, so a peer
// could crash the process with a deeply nested identifier. The bytes are
// received unparsed first; an identifier larger than kMaxBytes, or holding
// more than kMaxItems sequence items, is refused. Every nesting level needs an
// item of its own, so the parser never recurses deeper than kMaxItems.
//
// A performed procedure step lists every image of its series, one item each:
// its attribute lists get larger limits, and one with more items than a
// query may hold is parsed on a thread whose stack holds as many nesting
// levels as it has items.
class IdentifierReader {
public:
    using Limits = IdentifierLimits;
    static constexpr size_t kMaxBytes = Limits{}.bytes;
    static constexpr size_t kMaxItems = Limits{}.items;
    static constexpr Limits kStepLimits{16 * 1024 * 1024, 20000};

    struct Result {
        OFCondition network = EC_Normal;  // bad: the association cannot go on
        std::unique_ptr<DcmDataset> dataset;
        // Set when the identifier is refused.
        std::optional<FailureKind> refusal;
    };

    static Result Read(T_ASC_Association* association, T_ASC_PresentationContextID presentation,
                       int timeoutSeconds, const Limits& limits = Limits{});

    // Parses received identifier bytes in the transfer syntax, refusing them
    // as Read does when they hold too many items or cannot be read.
    static Result Parse(std::string_view bytes, E_TransferSyntax syntax,
                        const Limits& limits = Limits{});

    // How many item tags (FFFE,E000), little endian, the bytes hold at any
    // offset: an upper bound of the items, and so of the nesting depth, that
    // any parse of them can meet.
    static size_t CountItemTags(std::string_view bytes);
};
