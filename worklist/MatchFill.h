#pragma once

#include <QString>
#include <QVariant>

#include "platform/dicom/MatchDataset.h"
#include "platform/his/Recordset.h"
#include "worklist/RequestedAttributes.h"
#include "worklist/WorklistSource.h"

// The patient's name as prepared for one response; the handler's log line
// shows the three parts.
struct NameParts {
    QString last;
    QString first;
    QString middle;
};

// One order record on its way into one worklist item (the response and the
// single item of its Scheduled Procedure Step Sequence). Every attribute is
// added only where the request asks for it, at the same level; the pieces
// every database mode shares are here, each mode adds its own between them.
class MatchFill {
public:
    MatchFill(const QueryRun& run, const WorklistSource& source, const Recordset& record,
              const RequestedAttributes& requested);

    const QueryRun& run;
    const Recordset& record;

    QVariant Field(const QString& name) const { return record.Field(name); }
    // Adds where the request asks: at the top level, or in the step item.
    void Top(Tag tag, const QVariant& value);
    void Step(Tag tag, const QVariant& value);

    // Character set, accession number, institution (the mode), patient name
    // and ID, Study Instance UID and, where asked for, the study description.
    void Head(bool studyDescription);
    // Study and step start from the order's date and time (TranD), at the
    // top level and in the step item. Throws MwlError when TranD does not
    // read as a date and time.
    void OrderDates();
    // Attributes a modality expects in every item; none of them may cost a
    // match. Admission ID from IDN where the mode has it.
    void Tail(bool admissionId);
    // What names the order and its step, never empty when asked for: the
    // Requested Procedure ID (the mode's procedure code, or the order number
    // where there is none) and, in the step item, the Modality (see
    // WorklistSource::StepModality), the Scheduled Station AE Title the query
    // names, and the Scheduled Procedure Step ID (the order number).
    void Identifiers(const QVariant& procedureCode);
    // Every other key the request asks for, empty.
    void AnswerTheRest() { m_requested.AnswerTheRest(m_response, *m_step); }

    const NameParts& Name() const { return m_name; }
    MatchDataset TakeResponse() { return std::move(m_response); }
    const MatchDataset& Response() const { return m_response; }

private:
    // Logs what had to change in a value, naming the order by its number.
    void Note(Tag tag, ValueFixes fixes);

    const WorklistSource& m_source;
    const RequestedAttributes& m_requested;
    QString m_order;
    NameParts m_name;
    MatchDataset m_response;
    MatchDataset* m_step;
};
