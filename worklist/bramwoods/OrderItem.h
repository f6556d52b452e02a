#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <array>
#include <functional>
#include <memory>

#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/LegalValue.h"
#include "platform/dicom/MatchDataset.h"
#include "worklist/bramwoods/OrderFile.h"

// One order file's answer, made once per version of the file: its fields,
// the line the log shows when it is sent, and every attribute it can give in
// wire form, each value made legal for its VR (in ISO 8859-1 and, for a line
// beyond ASCII, in UTF-8 too). A query only picks the attributes its request
// asks for.
//
// Attributes, as the item is built (a later one replaces an earlier one):
// Scheduled Procedure Step Sequence with one item, always; Specific
// Character Set if asked; Accession Number from field 1, always; Patient's
// Address from field 1, always; Patient ID from field 8, always; Patient's
// Name (10), Birth Date (12, a date), Sex (13) and Address (17) if asked;
// Accession Number from field 20 and Series Description from field 22,
// always; Study Date (24, a date) if asked; then, if asked, Referenced Study
// Sequence (no items), Requested Procedure Priority, Patient Transport
// Arrangements (empty), Admission ID (field 8), Patient's Weight and
// Confidentiality Constraint (empty); Study Instance UID (derived from
// fields 20 and 8, the same at every query) and Requested Procedure ID
// (field 20); in the step item Modality and Scheduled Station AE Title (from
// the query), Scheduled Procedure Step ID (field 20) and start date (field
// 24) and time (its midnight).
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
        bool studyUid = false;
        bool procedureId = false;
        // In the step item.
        bool modality = false;
        bool stationAeTitle = false;
        bool stepId = false;
        bool stepStartDate = false;
        bool stepStartTime = false;

        static Asked From(const DicomDataset& request, const DicomDataset& requestStep);
    };

    // What one query gives every item of its answer: the encoding and the
    // step values that come from the query, in wire form.
    struct QueryValues {
        TextEncoding encoding = TextEncoding::Latin1;
        // Room for the attributes of an item and of its step item.
        size_t elements = 0;
        size_t stepElements = 0;
        QByteArray modality;
        ValueFixes modalityFixes = 0;
        QByteArray stationAeTitle;
        ValueFixes stationAeTitleFixes = 0;
    };

    explicit OrderItem(OrderFields fields);

    const OrderFields& Fields() const { return m_fields; }
    // "sending." and the name, company code, accession number and examination.
    QString SendingLine() const;
    // The item's values are shared with this order item, which the item
    // keeps alive: the order item must be held by a shared_ptr.
    MatchDataset Item(const Asked& asked, const QueryValues& query) const;
    // Every asked attribute with its value as the echo of "Show Requested
    // Elements" shows it, in the order the item is built.
    void ForEachAsked(const Asked& asked, const QueryValues& query,
                      const std::function<void(Tag, const QVariant&)>& visit) const;
    // Every attribute of the item whose value had to be made legal, with
    // what changed; quick when there is none.
    void ForEachFix(const Asked& asked, const QueryValues& query,
                    const std::function<void(Tag, ValueFixes)>& visit) const;

private:
    // The values an order gives, each kept once in wire form.
    enum Value {
        Company,
        PatientId,
        Name,
        BirthDate,
        Sex,
        Address,
        Accession,
        Examination,
        StudyDate,
        StudyUid,
        StepStartTime,
        kValues
    };
    // Where one value lies in the wire bytes (a line is far shorter than 4 GB).
    struct Span {
        quint32 at = 0;
        quint32 size = 0;
    };
    // Every value in wire form in one encoding, one after the other: one
    // allocation per order, as thousands of orders stay in memory between
    // queries; what had to change in each, only where anything did.
    struct Wire {
        QByteArray bytes;
        std::array<Span, kValues> spans{};
        std::unique_ptr<std::array<ValueFixes, kValues>> fixes;
    };

    void Make(Wire& wire, TextEncoding encoding) const;
    const Wire& WireFor(TextEncoding encoding) const;

    OrderFields m_fields;
    Wire m_latin1;
    std::unique_ptr<Wire> m_utf8;  // only for a line beyond ASCII
};
