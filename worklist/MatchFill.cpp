#include "worklist/MatchFill.h"

#include "platform/DateTimeText.h"
#include "platform/MwlError.h"
#include "platform/his/FieldText.h"
#include "worklist/Tags.h"

namespace {

// A NULL name part reads as "", so one incomplete name does not end the query.
QString NamePart(const Recordset& record, const QString& field, bool replaceEnye) {
    QString part = FieldText(record.Field(field)).trimmed();
    if (replaceEnye) {
        part.replace(QChar(0x00D1), QLatin1Char('N'));
        part.replace(QChar(0x00F1), QLatin1Char('n'));
    }
    return part;
}

DateAndTime OrderDateTime(const Recordset& record) {
    const QVariant value = record.Field(QStringLiteral("TranD"));
    const auto when = ReadDateAndTime(value);
    if (!when)
        throw MwlError(QStringLiteral("TranD '%1' is not a date and time").arg(FieldText(value)),
                       FailureKind::HisQueryFailed);
    return *when;
}

}  // namespace

MatchFill::MatchFill(const QueryRun& run, const WorklistSource& source, const Recordset& record,
                     const RequestedAttributes& requested)
    : run(run),
      record(record),
      m_source(source),
      m_requested(requested),
      m_response(run.keys.Encoding()) {
    const bool replace = run.settings.switches.replaceEnye;
    m_name = {NamePart(record, QStringLiteral("MLN"), replace),
              NamePart(record, QStringLiteral("MFN"), replace),
              NamePart(record, QStringLiteral("MMN"), replace)};
    // Room for every key asked (and the few always there) from the start.
    m_response.Reserve(requested.KeyCount() + 2);
    m_step = &m_response.AddSequenceItem(Tags::StepSequence);
    m_step->Reserve(requested.StepKeyCount());
}

void MatchFill::Top(Tag tag, const QVariant& value) {
    Note(tag, m_requested.AddIfRequested(m_response, run.keys.request, tag, value));
}

void MatchFill::Step(Tag tag, const QVariant& value) {
    Note(tag, m_requested.AddIfRequested(*m_step, run.keys.requestStep, tag, value));
}

void MatchFill::Note(Tag tag, ValueFixes fixes) {
    if (fixes == 0) return;
    if (m_order.isEmpty()) m_order = FieldText(Field(QStringLiteral("RequestNum")));
    m_requested.NoteFixes(m_order, tag, fixes);
}

void MatchFill::Head(bool studyDescription) {
    Top(Tags::SpecificCharacterSet, QString::fromLatin1(CharacterSetTerm(m_response.Encoding())));
    Top(Tags::AccessionNumber, FieldText(Field(QStringLiteral("RequestNum"))));
    Top(Tags::InstitutionName, m_source.Name());
    // A separator inside a name part would make parts of its own.
    ValueFixes nameFixes = 0;
    const QString name = PersonNameOf({m_name.last, m_name.first, m_name.middle}, nameFixes);
    const ValueFixes added =
        m_requested.AddIfRequested(m_response, run.keys.request, Tags::PatientName, name);
    if (run.keys.request.Contains(Tags::PatientName)) Note(Tags::PatientName, added | nameFixes);
    Top(Tags::PatientId, Field(QStringLiteral("HN")));
    Top(Tags::StudyInstanceUid, m_source.StudyUid(run, record));
    if (studyDescription) Top(Tags::StudyDescription, Field(QStringLiteral("ProcDesc")));
}

void MatchFill::OrderDates() {
    const DateAndTime ordered = OrderDateTime(record);
    Top(Tags::StudyDate, ordered.date);
    Top(Tags::StudyTime, ordered.time);
    Top(Tags::StepStartDate, ordered.date);
    Top(Tags::StepStartTime, ordered.time);
    Step(Tags::StepStartDate, ordered.date);
    Step(Tags::StepStartTime, ordered.time);
}

void MatchFill::Identifiers(const QVariant& procedureCode) {
    const QString orderNumber = FieldText(Field(QStringLiteral("RequestNum")));
    const QString code = FieldText(procedureCode);
    Top(Tags::RequestedProcedureId, code.trimmed().isEmpty() ? orderNumber : code);
    const DicomDataset& step = run.keys.requestStep;
    if (step.Contains(Tags::Modality))
        Step(Tags::Modality, m_source.StepModality(run.keys, record));
    if (step.Contains(Tags::ScheduledStationAeTitle))
        Step(Tags::ScheduledStationAeTitle, run.keys.StepLiteral(Tags::ScheduledStationAeTitle));
    Step(Tags::StepId, orderNumber);
}

void MatchFill::Tail(bool admissionId) {
    IgnoringFailures([&] { Top(Tags::ReferencedStudySequence, QVariant()); });
    IgnoringFailures([&] { Top(Tags::RequestedProcedurePriority, QString()); });
    IgnoringFailures([&] { Top(Tags::PatientTransportArrangements, QString()); });
    if (admissionId)
        IgnoringFailures([&] { Top(Tags::AdmissionId, Field(QStringLiteral("IDN"))); });
    IgnoringFailures([&] { Top(Tags::PatientWeight, QString()); });
    IgnoringFailures([&] { Top(Tags::ConfidentialityConstraint, QString()); });
}
