// libFuzzer target: identifier bytes as a peer sends them, parsed the way the
// server parses them, then turned into the order statement of every SQL mode.
// A statement must come out with its quotes paired: an odd count means a
// value left its literal.

#include <dcmtk/oflog/oflog.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/dicom/IdentifierReader.h"
#include "unit/Fakes.h"
#include "worklist/BaseSql.h"
#include "worklist/OrderStatements.h"

namespace {

void BuildEveryStatement(const DicomDataset& request) {
    const auto step = request.SequenceItem(Tags::StepSequence);
    if (!step) return;
    const QString modality = step->Item(Tags::Modality).Text();
    for (const QString& mode : {Modes::Talvek, Modes::Pelta, Modes::Orvelline}) {
        FakeServices fakes;
        fakes.state.BaseSQL = BaseSqlFor(mode);
        OrderStatements builder(fakes.services);
        try {
            const QString sql = builder.Build(mode, {request, *step, modality});
            if (sql.count(QLatin1Char('\'')) % 2 != 0) __builtin_trap();
        } catch (const MwlError&) {
            // A key that is no date or time: the query fails, as it should.
        }
    }
}

}  // namespace

// The toolkit's warnings about each broken input would cost most of the time.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const E_TransferSyntax syntax : {EXS_LittleEndianImplicit, EXS_LittleEndianExplicit}) {
        IdentifierReader::Result parsed = IdentifierReader::Parse(bytes, syntax);
        if (parsed.dataset) BuildEveryStatement(DicomDataset(std::move(parsed.dataset)));
    }
    return 0;
}
