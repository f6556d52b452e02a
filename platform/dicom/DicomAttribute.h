#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

class DcmItem;
class DcmElement;

// One attribute of a dataset, also for an absent one. Text is decoded from the
// dataset's character set.
//
// Date and time ranges are returned as QDateTime: a DA value gives its date at
// 00:00, a TM value gives its time on the day 1899-12-30 (the zero day of the
// classic date serial), so a date and a time combine as date() + time().
class DicomAttribute {
public:
    DicomAttribute(const DcmItem* item, quint16 group, quint16 element, bool utf8);

    quint16 Group() const { return m_group; }
    quint16 Element() const { return m_element; }

    // True when the attribute is in the dataset, also with an empty value.
    bool Exists() const { return m_element_ptr != nullptr; }
    // True when absent or present without a value.
    bool IsNull() const;
    // The value as text; several values are joined by "\". Empty when null.
    std::optional<QString> Value() const;
    QString Text() const { return Value().value_or(QString()); }
    bool IsMultiValued() const;
    QStringList Values() const;

    // Earliest and latest date or time the DA or TM key allows; the default
    // stands in for an open or empty end. Throws MwlError for a value that is
    // not a date or time.
    QDateTime RangeStart(const QDateTime& fallback) const;
    QDateTime RangeEnd(const QDateTime& fallback) const;

    // The attribute's keyword from the data dictionary ("PatientName").
    QString Description() const;

    static QDateTime ZeroDay(const QTime& time);

private:
    QString RawText() const;
    std::optional<QDateTime> RangePart(bool end) const;

    quint16 m_group;
    quint16 m_element;
    DcmElement* m_element_ptr = nullptr;
    bool m_utf8;
};
