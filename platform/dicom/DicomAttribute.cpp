#include "platform/dicom/DicomAttribute.h"

#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dctag.h>

#include "platform/MwlError.h"
#include "platform/dicom/DicomText.h"

namespace {

QString TagText(quint16 group, quint16 element) {
    return QStringLiteral("(%1,%2)")
        .arg(group, 4, 16, QLatin1Char('0'))
        .arg(element, 4, 16, QLatin1Char('0'))
        .toUpper();
}

std::optional<QDate> ParseDa(const QString& text) {
    for (const char* format : {"yyyyMMdd", "yyyy.MM.dd"}) {
        const QDate date = QDate::fromString(text, QString::fromLatin1(format));
        if (date.isValid()) return date;
    }
    return std::nullopt;
}

std::optional<QTime> ParseTm(QString text) {
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    int millis = 0;
    if (dot >= 0) {
        millis = text.mid(dot + 1, 3).leftJustified(3, QLatin1Char('0')).toInt();
        text.truncate(dot);
    }
    text.remove(QLatin1Char(':'));
    for (const char* format : {"HHmmss", "HHmm", "HH"}) {
        const QTime time = QTime::fromString(text, QString::fromLatin1(format));
        if (time.isValid()) return time.addMSecs(millis);
    }
    return std::nullopt;
}

// Some modalities pad values with NUL bytes instead of spaces: padding is
// no part of the value, and a NUL must not reach a statement, where a
// driver would cut the text short and fail the whole query.
QString DecodedValue(const OFString& value, bool utf8) {
    size_t length = value.length();
    while (length > 0 && value[length - 1] == '\0') --length;
    return DecodeDicomText(value.c_str(), length, utf8);
}

}  // namespace

DicomAttribute::DicomAttribute(const DcmItem* item, quint16 group, quint16 element, bool utf8)
    : m_group(group), m_element(element), m_utf8(utf8) {
    if (item == nullptr) return;
    DcmElement* found = nullptr;
    if (const_cast<DcmItem*>(item)->findAndGetElement(DcmTagKey(group, element), found, OFFalse)
            .good())
        m_element_ptr = found;
}

QDateTime DicomAttribute::ZeroDay(const QTime& time) { return QDateTime(QDate(1899, 12, 30), time); }

bool DicomAttribute::IsNull() const {
    if (m_element_ptr == nullptr) return true;
    if (m_element_ptr->ident() == EVR_SQ)
        return static_cast<DcmSequenceOfItems*>(m_element_ptr)->card() == 0;
    return m_element_ptr->getLength() == 0;
}

QString DicomAttribute::RawText() const {
    OFString value;
    if (m_element_ptr == nullptr || m_element_ptr->ident() == EVR_SQ) return QString();
    if (m_element_ptr->getOFStringArray(value, OFTrue).bad()) return QString();
    return DecodedValue(value, m_utf8);
}

std::optional<QString> DicomAttribute::Value() const {
    if (IsNull()) return std::nullopt;
    return RawText();
}

bool DicomAttribute::IsMultiValued() const {
    return m_element_ptr != nullptr && m_element_ptr->ident() != EVR_SQ &&
           m_element_ptr->getVM() > 1;
}

QStringList DicomAttribute::Values() const {
    QStringList values;
    if (IsNull() || m_element_ptr->ident() == EVR_SQ) return values;
    const unsigned long count = m_element_ptr->getVM();
    for (unsigned long i = 0; i < count; ++i) {
        OFString value;
        m_element_ptr->getOFString(value, i, OFTrue);
        values << DecodedValue(value, m_utf8);
    }
    return values;
}

std::optional<QDateTime> DicomAttribute::RangePart(bool end) const {
    const QString text = RawText().trimmed();
    if (text.isEmpty()) return std::nullopt;
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    const QString part = (dash < 0 ? text : end ? text.mid(dash + 1) : text.left(dash)).trimmed();
    if (part.isEmpty()) return std::nullopt;
    const bool isTime = m_element_ptr->ident() == EVR_TM;
    if (isTime) {
        if (auto time = ParseTm(part)) return ZeroDay(*time);
    } else if (auto date = ParseDa(part)) {
        return QDateTime(*date, QTime(0, 0));
    }
    throw MwlError(QStringLiteral("Type mismatch: '%1' in %2 is not a %3.")
                       .arg(text, TagText(m_group, m_element),
                            isTime ? QStringLiteral("time") : QStringLiteral("date")),
                   FailureKind::InvalidDateOrTime);
}

QDateTime DicomAttribute::RangeStart(const QDateTime& fallback) const {
    return RangePart(false).value_or(fallback);
}

QDateTime DicomAttribute::RangeEnd(const QDateTime& fallback) const {
    return RangePart(true).value_or(fallback);
}

QString DicomAttribute::Description() const {
    return QString::fromLatin1(DcmTag(m_group, m_element).getTagName());
}
