#include "platform/dicom/IdentifierReader.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcostrma.h>
#include <dcmtk/dcmnet/dimse.h>

#include <QThread>
#include <string>

namespace {

// Collects what the toolkit receives, up to a limit. Beyond it the bytes are
// taken and dropped, so the toolkit goes on reading the data set to its last
// fragment as usual and the refusal goes out at once. (Failing the write
// instead makes the toolkit skip to the next last fragment; when the one that
// crosses the limit was the last, it would wait for one that never comes.)
class CappedConsumer : public DcmConsumer {
public:
    CappedConsumer(std::string& bytes, size_t limit) : m_bytes(bytes), m_limit(limit) {}

    OFBool good() const override { return OFTrue; }
    OFCondition status() const override { return EC_Normal; }
    OFBool isFlushed() const override { return OFTrue; }
    offile_off_t avail() const override { return OFstatic_cast(offile_off_t, m_limit + 1); }
    offile_off_t write(const void* buf, offile_off_t buflen) override {
        const auto length = static_cast<size_t>(buflen);
        if (m_overflow || length > m_limit - m_bytes.size()) {
            m_overflow = true;
            std::string().swap(m_bytes);
        } else {
            m_bytes.append(static_cast<const char*>(buf), length);
        }
        return buflen;
    }
    void flush() override {}

    bool Overflowed() const { return m_overflow; }

private:
    std::string& m_bytes;
    const size_t m_limit;
    bool m_overflow = false;
};

class CappedStream : public DcmOutputStream {
public:
    CappedStream(std::string& bytes, size_t limit)
        : DcmOutputStream(&m_consumer), m_consumer(bytes, limit) {}
    bool Overflowed() const { return m_consumer.Overflowed(); }

private:
    CappedConsumer m_consumer;
};

E_TransferSyntax TransferSyntaxOf(T_ASC_Association* association,
                                  T_ASC_PresentationContextID presentation) {
    T_ASC_PresentationContext context;
    if (ASC_findAcceptedPresentationContext(association->params, presentation, &context).bad())
        return EXS_Unknown;
    return DcmXfer(context.acceptedTransferSyntax).getXfer();
}

// The toolkit's parser takes about 1.2 KiB of stack per nesting level; this
// leaves room for sanitizer builds.
constexpr size_t kStackPerLevel = 4096;
constexpr size_t kStackBase = 1024 * 1024;

// Runs the parse on a thread of its own when the items may nest deeper than
// an ordinary thread's stack holds.
template <typename Parse>
void WithStackFor(size_t levels, Parse&& parse) {
    if (levels <= IdentifierReader::kMaxItems) return parse();
    std::unique_ptr<QThread> thread(QThread::create(std::forward<Parse>(parse)));
    thread->setStackSize(static_cast<uint>(kStackBase + levels * kStackPerLevel));
    thread->start();
    thread->wait();
}

}  // namespace

size_t IdentifierReader::CountItemTags(std::string_view bytes) {
    static constexpr std::string_view kItemTag("\xFE\xFF\x00\xE0", 4);
    size_t count = 0;
    for (size_t at = bytes.find(kItemTag); at != std::string_view::npos;
         at = bytes.find(kItemTag, at + 1))
        ++count;
    return count;
}

IdentifierReader::Result IdentifierReader::Read(T_ASC_Association* association,
                                                T_ASC_PresentationContextID presentation,
                                                int timeoutSeconds, const Limits& limits) {
    Result result;
    std::string bytes;
    CappedStream stream(bytes, limits.bytes);
    T_ASC_PresentationContextID received = 0;
    const OFCondition status = DIMSE_receiveDataSetInFile(
        association, DIMSE_NONBLOCKING, timeoutSeconds, &received, &stream, nullptr, nullptr);
    if (status.bad()) {
        result.network = status;
        return result;
    }
    if (stream.Overflowed()) {
        result.refusal = FailureKind::IdentifierTooLarge;
        return result;
    }
    if (received != presentation) {
        result.network = makeDcmnetCondition(DIMSEC_INVALIDPRESENTATIONCONTEXTID, OF_error,
                                             "Command and identifier on different contexts");
        return result;
    }
    return Parse(bytes, TransferSyntaxOf(association, presentation), limits);
}

IdentifierReader::Result IdentifierReader::Parse(std::string_view bytes, E_TransferSyntax syntax,
                                                 const Limits& limits) {
    Result result;
    const size_t items = CountItemTags(bytes);
    if (items > limits.items) {
        result.refusal = FailureKind::IdentifierTooManyItems;
        return result;
    }
    DcmInputBufferStream input;
    input.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
    input.setEos();
    auto dataset = std::make_unique<DcmDataset>();
    OFCondition parsed;
    WithStackFor(items, [&] {
        dataset->transferInit();
        parsed = dataset->read(input, syntax);
        dataset->transferEnd();
    });
    if (parsed.bad() && parsed != EC_StreamNotifyClient)
        result.refusal = FailureKind::IdentifierUnreadable;
    else
        result.dataset = std::move(dataset);
    return result;
}
