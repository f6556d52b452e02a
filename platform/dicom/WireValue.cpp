#include "platform/dicom/WireValue.h"

#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>
#include <unordered_map>

#include "platform/DateTimeText.h"
#include "platform/MwlError.h"
#include "platform/dicom/DicomText.h"

namespace {

constexpr quint32 Key(Tag tag) { return static_cast<quint32>(tag.group) << 16 | tag.element; }

// In bytes, which for ISO 8859-1 are characters; a UTF-8 value is cut on a
// character boundary within as many bytes, so no reader finds it too long.
int MaxBytesOf(DcmEVR vr) {
    switch (vr) {
        case EVR_AE:
        case EVR_CS:
        case EVR_DS:
        case EVR_SH:
            return 16;
        case EVR_AS:
            return 4;
        case EVR_DA:
            return 8;
        case EVR_DT:
            return 26;
        case EVR_IS:
            return 12;
        case EVR_TM:
            return 14;
        case EVR_LO:
        case EVR_PN:
        case EVR_UI:
            return 64;
        case EVR_ST:
            return 1024;
        case EVR_LT:
            return 10240;
        default:
            return 0;
    }
}

bool SingleValued(const DcmTagKey& key) {
    const DcmDataDictionary& dictionary = dcmDataDict.rdlock();
    const DcmDictEntry* entry = dictionary.findEntry(key, nullptr);
    const bool single = entry != nullptr && entry->getVMMax() == 1;
    dcmDataDict.rdunlock();
    return single;
}

const VrInfo& SharedInfoOf(Tag tag) {
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
                evr == EVR_UI || evr == EVR_OB ? '\0' : ' ',
                SingleValued(DcmTagKey(tag.group, tag.element)),
                MaxBytesOf(evr)};
    return known.emplace(Key(tag), info).first->second;
}

}  // namespace

// Every value of every match asks: each thread keeps the answers it has had
// in a small table of its own, one slot per tag by a hash, and asks the
// shared table (under its lock) only for a tag it has not seen or whose slot
// another tag took. The shared entries never move, so the pointers hold.
const VrInfo& InfoOf(Tag tag) {
    struct Slot {
        quint32 key = 0;
        const VrInfo* info = nullptr;
    };
    thread_local std::array<Slot, 256> seen;
    const quint32 key = Key(tag);
    Slot& slot = seen[(key * 2654435761u) >> 24];
    if (slot.info == nullptr || slot.key != key) slot = {key, &SharedInfoOf(tag)};
    return *slot.info;
}

void Mismatch(Tag tag, const QVariant& value) {
    DcmTag dcmTag(tag.group, tag.element);
    throw MwlError(QStringLiteral("Type mismatch: '%1' does not fit %2 (%3).")
                       .arg(value.toString(), QString::fromLatin1(dcmTag.getTagName()),
                            QString::fromLatin1(dcmTag.getVRName())));
}

namespace {

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

}  // namespace

QByteArray WireValue(Tag tag, const QVariant& value) {
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

