#include "platform/dicom/LegalValue.h"

#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcvr.h>

#include <QHash>
#include <algorithm>

#include "platform/DateTimeText.h"
#include "platform/dicom/WireValue.h"

namespace {

constexpr int kNameGroups = 3;
constexpr int kNameComponents = 5;

bool IsPatientSex(Tag tag) { return tag.group == 0x0010 && tag.element == 0x0040; }

bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// ST, LT and UT are free text: tab and line layout belong there.
bool KeptInFreeText(DcmEVR vr, char16_t c) {
    return (vr == EVR_ST || vr == EVR_LT || vr == EVR_UT) &&
           (c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r');
}

void RemoveControls(QString& text, DcmEVR vr, ValueFixes& fixes) {
    const auto illegal = [vr](QChar c) {
        return IsControl(c.unicode()) && !KeptInFreeText(vr, c.unicode());
    };
    if (std::none_of(text.cbegin(), text.cend(), illegal)) return;
    fixes |= ValueFix::ControlCharacters;
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!illegal(c))
            kept += c;
        else if (u == u'\t' || (u >= u'\n' && u <= u'\r'))
            kept += QLatin1Char(' ');
    }
    text = kept;
}

// At most three groups ("="), each of at most five components ("^"); the
// words of the fifth and later components become the fifth, blank-separated.
QString NameValue(const QString& value, ValueFixes& fixes) {
    if (value.count(QLatin1Char('^')) < kNameComponents && !value.contains(QLatin1Char('=')))
        return value;
    QStringList groups = value.split(QLatin1Char('='));
    bool changed = false;
    if (groups.size() > kNameGroups) {
        groups[kNameGroups - 1] = groups.mid(kNameGroups - 1).join(QLatin1Char(' '));
        groups.resize(kNameGroups);
        changed = true;
    }
    for (QString& group : groups) {
        QStringList components = group.split(QLatin1Char('^'));
        if (components.size() <= kNameComponents) continue;
        QStringList last;
        for (qsizetype i = kNameComponents - 1; i < components.size(); ++i)
            if (!components[i].isEmpty()) last << components[i];
        components.resize(kNameComponents);
        components.back() = last.join(QLatin1Char(' '));
        group = components.join(QLatin1Char('^'));
        changed = true;
    }
    if (!changed) return value;
    fixes |= ValueFix::NameStructure;
    return groups.join(QLatin1Char('='));
}

QString PersonNames(const QString& text, ValueFixes& fixes) {
    if (!text.contains(QLatin1Char('\\'))) return NameValue(text, fixes);
    QStringList values = text.split(QLatin1Char('\\'));
    for (QString& value : values) value = NameValue(value, fixes);
    return values.join(QLatin1Char('\\'));
}

// A-Z, 0-9, blank and "_"; "\" separates values.
void CodeString(QString& text, ValueFixes& fixes) {
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u' ' || u == u'_' ||
            u == u'\\')
            continue;
        fixes |= ValueFix::Repertoire;
        c = u >= u'a' && u <= u'z' ? QChar(static_cast<char16_t>(u - u'a' + u'A'))
                                   : QLatin1Char('_');
    }
}

QString SexCode(const QString& text, ValueFixes& fixes) {
    const QString word = text.trimmed();
    if (word.isEmpty() || word == QLatin1String("M") || word == QLatin1String("F") ||
        word == QLatin1String("O"))
        return word;
    static const QHash<QString, QString> kWords = {
        {"M", "M"},      {"MALE", "M"},  {"MAN", "M"},      {"MASCULINE", "M"}, {"F", "F"},
        {"FEMALE", "F"}, {"WOMAN", "F"}, {"FEMININE", "F"}, {"O", "O"},         {"OTHER", "O"}};
    fixes |= ValueFix::Sex;
    return kWords.value(word.toUpper());
}

void KeepOnly(QString& text, ValueFixes& fixes, bool (*allowed)(char16_t)) {
    const auto before = text.size();
    text.removeIf([allowed](QChar c) { return !allowed(c.unicode()); });
    if (text.size() != before) fixes |= ValueFix::Repertoire;
}

bool AeCharacter(char16_t c) { return c >= 0x20 && c <= 0x7E; }
bool UidCharacter(char16_t c) { return (c >= u'0' && c <= u'9') || c == u'.'; }

// A UID with blanks around it (a padded CHAR column) only loses them, as the
// toolkit does; anything else that is no digit or dot is a change.
void UidValue(QString& text, ValueFixes& fixes) {
    text.removeIf([](QChar c) { return c.isSpace(); });
    KeepOnly(text, fixes, UidCharacter);
}

// At most `limit` bytes, not splitting a UTF-8 character.
bool CutTo(QByteArray& bytes, qsizetype limit, TextEncoding encoding) {
    if (bytes.size() <= limit) return false;
    qsizetype end = limit;
    if (encoding == TextEncoding::Utf8)
        while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
    bytes.truncate(end);
    return true;
}

// Each value within the VR's length; a person name counts its groups
// together, as validators and older readers do. "\\" is ASCII, which no
// UTF-8 multi-byte character contains.
void CutValues(QByteArray& wire, const VrInfo& info, TextEncoding encoding, ValueFixes& fixes) {
    QList<QByteArray> values = wire.split('\\');
    for (QByteArray& value : values)
        if (CutTo(value, info.maxBytes, encoding)) fixes |= ValueFix::Cut;
    wire = values.join('\\');
}

bool InDicomYears(const QDate& date) { return date.year() >= 1 && date.year() <= 9999; }

// A text of a time alone reads as that time on the zero day: no date.
bool IsDate(const QVariant& value, const DateAndTime& when) {
    if (value.typeId() == QMetaType::QTime) return false;
    if (when.date != QDate(1899, 12, 30) || value.typeId() != QMetaType::QString) return true;
    return !IsTimeOnlyText(value.toString());
}

QByteArray TemporalValue(DcmEVR vr, const QVariant& value, ValueFixes& fixes) {
    if (value.typeId() == QMetaType::QString && value.toString().trimmed().isEmpty()) return {};
    const auto when = ReadDateAndTime(value);
    const bool fits = when && InDicomYears(when->date) &&
                      (vr == EVR_TM ? value.typeId() != QMetaType::QDate : IsDate(value, *when));
    if (!fits) {
        fixes |= ValueFix::NotDateOrTime;
        return {};
    }
    if (vr == EVR_DA) return DicomDateText(when->date).toLatin1();
    if (vr == EVR_TM) return DicomTimeText(when->time).toLatin1();
    return (DicomDateText(when->date) + DicomTimeText(when->time)).toLatin1();
}

QString TextOf(const QVariant& value) {
    QString text = value.toString();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0) text.truncate(nul);
    return text;
}

}  // namespace

QByteArray LegalWireValue(Tag tag, const QVariant& value, TextEncoding encoding,
                          ValueFixes& fixes) {
    const VrInfo& info = InfoOf(tag);
    if (info.evr == EVR_SQ) Mismatch(tag, value);
    if (value.isNull()) return {};
    if (info.evr == EVR_DA || info.evr == EVR_TM || info.evr == EVR_DT)
        return TemporalValue(info.evr, value, fixes);
    QString text = TextOf(value);
    RemoveControls(text, info.evr, fixes);
    if (info.singleValued && text.contains(QLatin1Char('\\'))) {
        text.replace(QLatin1Char('\\'), QLatin1Char('/'));
        fixes |= ValueFix::Backslash;
    }
    switch (info.evr) {
        case EVR_PN:
            text = PersonNames(text, fixes);
            break;
        case EVR_CS:
            if (IsPatientSex(tag))
                text = SexCode(text, fixes);
            else
                CodeString(text, fixes);
            break;
        case EVR_AE:
            KeepOnly(text, fixes, AeCharacter);
            break;
        case EVR_UI:
            UidValue(text, fixes);
            break;
        default:
            break;
    }
    QByteArray wire = EncodeText(text, encoding);
    if (info.maxBytes > 0 && wire.size() > info.maxBytes) CutValues(wire, info, encoding, fixes);
    while (!wire.isEmpty() && wire.back() == ' ') wire.chop(1);
    return wire;
}

QString PersonNameOf(const QStringList& components, ValueFixes& fixes) {
    QString name;
    for (qsizetype i = 0; i < components.size(); ++i) {
        if (i > 0) name += QLatin1Char('^');
        QString component = components[i];
        for (QChar& c : component) {
            const bool separator = c == QLatin1Char('^') || c == QLatin1Char('=');
            if (!separator && c != QLatin1Char('\\')) continue;
            fixes |= separator ? ValueFix::NameStructure : ValueFix::Backslash;
            c = QLatin1Char(' ');
        }
        name += component;
    }
    return name;
}

QString DescribeFixes(Tag tag, ValueFixes fixes) {
    static const std::pair<unsigned, const char*> kReasons[] = {
        {ValueFix::Cut, "cut to its maximum length"},
        {ValueFix::ControlCharacters, "control characters removed"},
        {ValueFix::Backslash, "\\ inside the value replaced"},
        {ValueFix::NameStructure, "name separators replaced (at most five components)"},
        {ValueFix::Repertoire, "letters or characters outside its repertoire replaced"},
        {ValueFix::Sex, "read as M, F or O, or sent empty"},
        {ValueFix::NotDateOrTime, "not a real date or time, sent empty"}};
    QStringList reasons;
    for (const auto& [fix, text] : kReasons)
        if (fixes & fix) reasons << QLatin1String(text);
    DcmTag dcmTag(tag.group, tag.element);
    const QString numbers = QStringLiteral("(%1,%2)")
                                .arg(tag.group, 4, 16, QLatin1Char('0'))
                                .arg(tag.element, 4, 16, QLatin1Char('0'))
                                .toUpper();
    return QStringLiteral("%1 %2, %3: %4")
        .arg(QString::fromLatin1(dcmTag.getTagName()), numbers,
             QString::fromLatin1(dcmTag.getVRName()), reasons.join(QStringLiteral("; ")));
}
