#include "platform/dicom/MatchDataset.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <unordered_map>

#include "platform/MwlError.h"
#include "platform/dicom/DicomText.h"
#include "platform/dicom/WireValue.h"


namespace {

constexpr quint32 Key(Tag tag) { return static_cast<quint32>(tag.group) << 16 | tag.element; }

constexpr Tag kSpecificCharacterSet{0x0008, 0x0005};

char* PutLittleEndian(char* at, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) *at++ = static_cast<char>((value >> (8 * i)) & 0xFF);
    return at;
}

// An element's tag, its VR (explicit VR only; none for an item) and its
// length, 16-bit or with two reserved bytes and 32 bits, in one append: it
// runs for every attribute of every match.
void PutHeader(std::string& out, quint32 key, const char* vr, bool longLength, quint32 length) {
    char header[12];
    char* at = PutLittleEndian(header, key >> 16, 2);
    at = PutLittleEndian(at, key & 0xFFFF, 2);
    if (vr != nullptr) {
        *at++ = vr[0];
        *at++ = vr[1];
        if (longLength) {
            *at++ = '\0';
            *at++ = '\0';
        }
    }
    at = PutLittleEndian(at, length, longLength ? 4 : 2);
    out.append(header, static_cast<size_t>(at - header));
}

constexpr quint32 kItemKey = 0xFFFEE000;

void PatchLength(std::string& out, size_t at, size_t length) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
}

bool HasExtendedByte(const QByteArray& value) {
    return std::any_of(value.cbegin(), value.cend(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

QString Normalized(const QByteArray& value, bool keepLeading) {
    QStringList parts = QString::fromLatin1(value).split(QLatin1Char('\\'));
    for (QString& part : parts) {
        qsizetype end = part.size();
        while (end > 0 && part[end - 1] == QLatin1Char(' ')) --end;
        qsizetype start = 0;
        while (!keepLeading && start < end && part[start] == QLatin1Char(' ')) ++start;
        part = part.mid(start, end - start);
    }
    return parts.join(QLatin1Char('\\'));
}

}  // namespace

ValueFixes MatchDataset::Add(Tag tag, const QVariant& value) {
    if (InfoOf(tag).evr == EVR_SQ) {
        // A sequence takes no text; null or "" stands for "no items".
        if (!value.isNull() && !value.toString().isEmpty()) Mismatch(tag, value);
        AddEmptySequence(tag);
        return 0;
    }
    ValueFixes fixes = 0;
    AddWire(tag, LegalWireValue(tag, value, m_encoding, fixes));
    return fixes;
}

void MatchDataset::AddWire(Tag tag, QByteArray wire) {
    Element& element = Put(tag);
    element.sequence = false;
    element.value = std::move(wire);
    element.items.clear();
}

void MatchDataset::AddEmptySequence(Tag tag) {
    Element& element = Put(tag);
    element.sequence = true;
    element.value.clear();
    element.items.clear();
}

MatchDataset& MatchDataset::AddSequenceItem(Tag tag) {
    Element& element = Put(tag);
    if (!element.sequence) element.items.clear();
    element.sequence = true;
    element.value.clear();
    return element.items.emplace_back(m_encoding);
}

void MatchDataset::Reserve(size_t elements) { m_elements.reserve(elements); }

MatchDataset* MatchDataset::SequenceItem(Tag tag, size_t index) {
    const Element* element = Find(Key(tag));
    if (element == nullptr || index >= element->items.size()) return nullptr;
    return const_cast<MatchDataset*>(&element->items[index]);
}

// Matches are built mostly in tag order: appending is the common case.
MatchDataset::Element& MatchDataset::Put(Tag tag) {
    const quint32 key = Key(tag);
    auto at = m_elements.end();
    if (!m_elements.empty() && m_elements.back().key >= key)
        at = std::lower_bound(m_elements.begin(), m_elements.end(), key,
                              [](const Element& e, quint32 k) { return e.key < k; });
    if (at != m_elements.end() && at->key == key) return *at;
    return *m_elements.insert(at, NewElement(tag));
}

// Empty: no value, or a sequence without items.
MatchDataset::Element MatchDataset::NewElement(Tag tag) {
    const VrInfo& info = InfoOf(tag);
    Element element;
    element.key = Key(tag);
    element.vr[0] = info.name[0];
    element.vr[1] = info.name[1];
    element.extendedLength = info.extendedLength;
    element.characterSetText = info.characterSetText;
    element.keepsLeadingBlanks = info.keepsLeadingBlanks;
    element.padding = info.padding;
    element.sequence = info.evr == EVR_SQ;
    return element;
}

MatchDataset MatchDataset::EmptiesOf(const std::vector<Tag>& tags) {
    MatchDataset empties;
    empties.m_elements.reserve(tags.size());
    for (const Tag tag : tags) empties.Put(tag);
    return empties;
}

// One pass over both lists to count the missing ones, then they are merged
// in from the back, in place: no element moves more than once, and each is a
// copy of one made before the first match.
void MatchDataset::AddMissingFrom(const MatchDataset& empties, std::vector<Tag>* added) {
    size_t missing = 0;
    auto at = m_elements.cbegin();
    for (const Element& empty : empties.m_elements) {
        while (at != m_elements.cend() && at->key < empty.key) ++at;
        if (at == m_elements.cend() || at->key != empty.key) ++missing;
    }
    if (missing == 0) return;
    auto old = static_cast<std::ptrdiff_t>(m_elements.size()) - 1;
    auto next = static_cast<std::ptrdiff_t>(empties.m_elements.size()) - 1;
    m_elements.resize(m_elements.size() + missing);
    // While `to` is past `old`, some missing element is still to be placed.
    for (auto to = static_cast<std::ptrdiff_t>(m_elements.size()) - 1; to > old;) {
        const Element& empty = empties.m_elements[static_cast<size_t>(next)];
        const quint32 oldKey = old >= 0 ? m_elements[static_cast<size_t>(old)].key : 0;
        if (old >= 0 && oldKey > empty.key) {
            m_elements[static_cast<size_t>(to--)] = std::move(m_elements[static_cast<size_t>(old--)]);
        } else if (old >= 0 && oldKey == empty.key) {
            --next;
        } else {
            m_elements[static_cast<size_t>(to--)] = empty;
            --next;
            if (added)
                added->push_back({static_cast<quint16>(empty.key >> 16),
                                  static_cast<quint16>(empty.key & 0xFFFF)});
        }
    }
    if (added) std::reverse(added->begin(), added->end());
}

const MatchDataset::Element* MatchDataset::Find(quint32 key) const {
    const auto at = std::lower_bound(m_elements.begin(), m_elements.end(), key,
                                     [](const Element& e, quint32 k) { return e.key < k; });
    return at != m_elements.end() && at->key == key ? &*at : nullptr;
}

bool MatchDataset::Contains(Tag tag) const { return Find(Key(tag)) != nullptr; }

QString MatchDataset::Text(Tag tag) const {
    const Element* element = Find(Key(tag));
    if (element == nullptr || element->sequence || element->value.isEmpty()) return QString();
    return Normalized(element->value, element->keepsLeadingBlanks);
}

bool MatchDataset::UsesExtendedCharacters() const {
    for (const Element& element : m_elements) {
        if (element.sequence) {
            for (const MatchDataset& item : element.items)
                if (item.UsesExtendedCharacters()) return true;
        } else if (element.characterSetText && HasExtendedByte(element.value)) {
            return true;
        }
    }
    return false;
}

void MatchDataset::Encode(bool explicitVr, std::string& out) const {
    if (Contains(kSpecificCharacterSet) || !UsesExtendedCharacters()) {
        EncodeElements(explicitVr, out);
        return;
    }
    MatchDataset declared = *this;
    declared.AddWire(kSpecificCharacterSet, CharacterSetTerm(m_encoding));
    declared.EncodeElements(explicitVr, out);
}

// As the toolkit writes for the network: sequences and items with explicit
// lengths, odd values padded (UI with NUL, text with a blank), and in
// explicit VR a value too long for a 16-bit length written as UN.
void MatchDataset::EncodeElements(bool explicitVr, std::string& out) const {
    for (const Element& element : m_elements) {
        if (element.sequence) {
            PutHeader(out, element.key, explicitVr ? "SQ" : nullptr, true, 0);
            const size_t lengthAt = out.size() - 4;
            const size_t start = out.size();
            for (const MatchDataset& item : element.items) {
                PutHeader(out, kItemKey, nullptr, true, 0);
                const size_t itemLengthAt = out.size() - 4;
                const size_t itemStart = out.size();
                item.EncodeElements(explicitVr, out);
                PatchLength(out, itemLengthAt, out.size() - itemStart);
            }
            PatchLength(out, lengthAt, out.size() - start);
            continue;
        }
        const size_t length =
            static_cast<size_t>(element.value.size() + (element.value.size() & 1));
        if (!explicitVr)
            PutHeader(out, element.key, nullptr, true, static_cast<quint32>(length));
        else if (element.extendedLength || length > 0xFFFF)
            PutHeader(out, element.key,
                      length > 0xFFFF && !element.extendedLength ? "UN" : element.vr, true,
                      static_cast<quint32>(length));
        else
            PutHeader(out, element.key, element.vr, false, static_cast<quint32>(length));
        out.append(element.value.constData(), static_cast<size_t>(element.value.size()));
        if (element.value.size() & 1) out += element.padding;
    }
}

DicomDataset MatchDataset::ToDataset() const {
    std::string bytes;
    Encode(true, bytes);
    auto dataset = std::make_unique<DcmDataset>();
    DcmInputBufferStream stream;
    stream.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
    stream.setEos();
    dataset->transferInit();
    const OFCondition read = dataset->read(stream, EXS_LittleEndianExplicit);
    dataset->transferEnd();
    if (read.bad())
        throw MwlError(
            QStringLiteral("A match does not read back: %1").arg(QString::fromLatin1(read.text())));
    return DicomDataset(std::move(dataset));
}
