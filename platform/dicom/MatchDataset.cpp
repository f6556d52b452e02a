#include "platform/dicom/MatchDataset.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <QRegularExpression>
#include <algorithm>
#include <cctype>
#include <mutex>
#include <unordered_map>

#include "platform/DateTimeText.h"
#include "platform/MwlError.h"
#include "platform/dicom/DicomText.h"

using namespace std::string_literals;

namespace {

constexpr quint32 Key(Tag tag) { return static_cast<quint32>(tag.group) << 16 | tag.element; }

constexpr Tag kSpecificCharacterSet{0x0008, 0x0005};
const QByteArray kDeclaredCharacterSet = QByteArrayLiteral("ISO_IR 100");

// What the encoder needs to know of an attribute's VR, from the toolkit's
// dictionary, looked up once per attribute.
struct VrInfo {
    char name[2];
    DcmEVR evr;
    bool extendedLength;  // explicit VR: two reserved bytes and a 32-bit length
    bool keepsLeadingBlanks;
    bool characterSetText;  // text that Specific Character Set applies to
    char padding;
};

const VrInfo& InfoOf(Tag tag) {
    static std::mutex mutex;
    static std::unordered_map<quint32, VrInfo> known;
    std::lock_guard lock(mutex);
    const auto found = known.find(Key(tag));
    if (found != known.end()) return found->second;
    const DcmEVR evr = DcmTag(tag.group, tag.element).getEVR();
    const DcmVR vr(evr);
    const char* name = vr.getValidVRName();
    VrInfo info{{name[0], name[1]},
                evr,
                vr.usesExtendedLengthEncoding() == OFTrue,
                evr == EVR_PN || evr == EVR_ST || evr == EVR_LT || evr == EVR_UT,
                vr.isAffectedBySpecificCharacterSet() == OFTrue,
                evr == EVR_UI || evr == EVR_OB ? '\0' : ' '};
    return known.emplace(Key(tag), info).first->second;
}

[[noreturn]] void Mismatch(Tag tag, const QVariant& value) {
    DcmTag dcmTag(tag.group, tag.element);
    throw MwlError(QStringLiteral("Type mismatch: '%1' does not fit %2 (%3).")
                       .arg(value.toString(), QString::fromLatin1(dcmTag.getTagName()),
                            QString::fromLatin1(dcmTag.getVRName())));
}

// How one temporal VR is written, and which values already are in its form.
struct TemporalForm {
    QRegularExpression range;   // a query key range: "20240301-", "0800-1200"
    QMetaType::Type wrongType;  // a date for a TM, a time for a DA
    bool date;
};

const TemporalForm& FormOf(DcmEVR vr) {
    static const TemporalForm date{
        QRegularExpression(QStringLiteral("^\\d{8}-\\d{0,8}$|^-\\d{8}$")), QMetaType::QTime, true};
    static const TemporalForm time{
        QRegularExpression(QStringLiteral(
            "^\\d{2,6}(\\.\\d{1,6})?-(\\d{2,6}(\\.\\d{1,6})?)?$|^-\\d{2,6}(\\.\\d{1,6})?$")),
        QMetaType::QDate, false};
    return vr == EVR_DA ? date : time;
}

// A range can only be made of digits, "." and "-"; most values are not, and
// need no look at the pattern.
bool MayBeRange(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('.');
    });
}

// DA as YYYYMMDD and TM as HHMMSS from any date or time value; empty text
// stays empty and a range in DICOM form goes out as it stands.
QByteArray TemporalText(Tag tag, DcmEVR vr, const QVariant& value) {
    const TemporalForm& form = FormOf(vr);
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.isEmpty()) return {};
        if (MayBeRange(text) && form.range.match(text).hasMatch()) return text.toLatin1();
    }
    const auto when = ReadDateAndTime(value);
    if (!when || value.typeId() == form.wrongType) Mismatch(tag, value);
    return (form.date ? DicomDateText(when->date) : DicomTimeText(when->time)).toLatin1();
}

void PutLittleEndian(std::string& out, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

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

QByteArray MatchDataset::WireValue(Tag tag, const QVariant& value) {
    const VrInfo& info = InfoOf(tag);
    if (value.isNull()) return {};
    QByteArray wire;
    if (info.evr == EVR_DA || info.evr == EVR_TM) {
        wire = TemporalText(tag, info.evr, value);
    } else {
        const std::string text = EncodeLatin1(value.toString());
        wire = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    }
    // As the toolkit keeps a value: taken as a C string (a NUL ends it),
    // without trailing blanks, and a UID without any white space.
    const qsizetype nul = wire.indexOf('\0');
    if (nul >= 0) wire.truncate(nul);
    if (info.evr == EVR_UI)
        wire.removeIf([](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
    while (!wire.isEmpty() && wire.back() == ' ') wire.chop(1);
    return wire;
}

void MatchDataset::Add(Tag tag, const QVariant& value) {
    if (InfoOf(tag).evr == EVR_SQ) {
        // A sequence takes no text; null or "" stands for "no items".
        if (!value.isNull() && !value.toString().isEmpty()) Mismatch(tag, value);
        AddEmptySequence(tag);
        return;
    }
    AddWire(tag, WireValue(tag, value));
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
    return element.items.emplace_back();
}

// Matches are built mostly in tag order: appending is the common case.
MatchDataset::Element& MatchDataset::Put(Tag tag) {
    const quint32 key = Key(tag);
    auto at = m_elements.end();
    if (!m_elements.empty() && m_elements.back().key >= key)
        at = std::lower_bound(m_elements.begin(), m_elements.end(), key,
                              [](const Element& e, quint32 k) { return e.key < k; });
    if (at != m_elements.end() && at->key == key) return *at;
    const VrInfo& info = InfoOf(tag);
    Element element;
    element.key = key;
    element.vr[0] = info.name[0];
    element.vr[1] = info.name[1];
    element.extendedLength = info.extendedLength;
    element.characterSetText = info.characterSetText;
    element.keepsLeadingBlanks = info.keepsLeadingBlanks;
    element.padding = info.padding;
    element.sequence = info.evr == EVR_SQ;
    return *m_elements.insert(at, std::move(element));
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
    declared.AddWire(kSpecificCharacterSet, kDeclaredCharacterSet);
    declared.EncodeElements(explicitVr, out);
}

// As the toolkit writes for the network: sequences and items with explicit
// lengths, odd values padded (UI with NUL, text with a blank), and in
// explicit VR a value too long for a 16-bit length written as UN.
void MatchDataset::EncodeElements(bool explicitVr, std::string& out) const {
    for (const Element& element : m_elements) {
        PutLittleEndian(out, element.key >> 16, 2);
        PutLittleEndian(out, element.key & 0xFFFF, 2);
        if (element.sequence) {
            if (explicitVr) out += "SQ\0\0"s;
            const size_t lengthAt = out.size();
            PutLittleEndian(out, 0, 4);
            const size_t start = out.size();
            for (const MatchDataset& item : element.items) {
                PutLittleEndian(out, 0xE000FFFE, 4);
                const size_t itemLengthAt = out.size();
                PutLittleEndian(out, 0, 4);
                const size_t itemStart = out.size();
                item.EncodeElements(explicitVr, out);
                PatchLength(out, itemLengthAt, out.size() - itemStart);
            }
            PatchLength(out, lengthAt, out.size() - start);
            continue;
        }
        const size_t length =
            static_cast<size_t>(element.value.size() + (element.value.size() & 1));
        if (explicitVr) {
            if (element.extendedLength || length > 0xFFFF) {
                out +=
                    length > 0xFFFF && !element.extendedLength ? "UN" : std::string(element.vr, 2);
                out += "\0\0"s;
                PutLittleEndian(out, static_cast<quint32>(length), 4);
            } else {
                out.append(element.vr, 2);
                PutLittleEndian(out, static_cast<quint32>(length), 2);
            }
        } else {
            PutLittleEndian(out, static_cast<quint32>(length), 4);
        }
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
