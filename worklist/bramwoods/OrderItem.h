#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/MatchDataset.h"
#include "worklist/bramwoods/OrderFile.h"

// One order file's answer, made once per version of the file: its fields,
// the line the log shows when it is sent, and every attribute it can give in
// wire form. A query only picks the attributes its request asks for.
//
// Attributes, as the item is built (a later one replaces an earlier one):
// Scheduled Procedure Step Sequence with one empty item, always; Specific
// Character Set "ISO_IR 100" if asked; Accession Number from field 1, always;
// Patient's Address from field 1, always; Patient ID from field 8, always;
// Patient's Name (10), Birth Date (12, a date), Sex (13) and Address (17) if
// asked; Accession Number from field 20 and Series Description from field 22,
// always; Study Date (24, a date) if asked; then, if asked, Referenced Study
// Sequence (no items), Requested Procedure Priority, Patient Transport
// Arrangements (empty), Admission ID (field 8), Patient's Weight and
// Confidentiality Constraint (empty).
class OrderItem : public std::enable_shared_from_this<OrderItem> {
public:
    // Which of the attributes given only when asked a request holds.
    struct Asked {
        bool characterSet = false;
        bool name = false;
        bool birthDate = false;
        bool sex = false;
        bool address = false;
        bool studyDate = false;
        bool referencedStudy = false;
        bool priority = false;
        bool transport = false;
        bool admission = false;
        bool weight = false;
        bool confidentiality = false;

        static Asked From(const DicomDataset& request);
    };

    explicit OrderItem(OrderFields fields);

    const OrderFields& Fields() const { return m_fields; }
    // "sending." and the name, company code, accession number and examination.
    QString SendingLine() const;
    // The item's values are shared with this order item, which the item
    // keeps alive: the order item must be held by a shared_ptr.
    MatchDataset Item(const Asked& asked) const;
    // Every asked attribute with its value as the echo of "Show Requested
    // Elements" shows it, in the order the item is built.
    void ForEachAsked(const Asked& asked,
                      const std::function<void(Tag, const QVariant&)>& visit) const;

private:
    // Where one value lies in m_wire.
    struct Span {
        qsizetype at = 0;
        qsizetype size = 0;
    };
    Span Keep(Tag tag, const QVariant& value);
    QByteArray Value(Span span) const;

    OrderFields m_fields;
    // Every value in wire form, one after the other: one allocation per
    // order, as thousands of orders stay in memory between queries.
    QByteArray m_wire;
    Span m_company;
    Span m_patientId;
    Span m_name;
    Span m_birthDate;
    Span m_sex;
    Span m_address;
    Span m_accession;
    Span m_examination;
    Span m_studyDate;
};
