#include "worklist/ResponseBuilder.h"

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

ResponseBuilder::ResponseBuilder(WorklistServices& services)
    : m_services(services), m_requested(services.log, services.switches), m_studyUids(services) {}

NameParts ResponseBuilder::Fill(MatchDataset& response, MatchDataset& responseStep,
                                const MatchContext& match) {
    m_requested.ReadSwitches();
    const NameParts name = PrepareName(match.record);
    AddHead(response, match, name);
    if (match.mode == Modes::Talvek || match.mode == Modes::Pelta)
        AddTalvekOrPelta(response, responseStep, match);
    else if (match.mode == Modes::Corvante)
        AddCorvante(response, responseStep, match);
    else if (match.mode == Modes::Orvelline)
        AddOrvelline(response, responseStep, match);
    AddTail(response, match);
    return name;
}

NameParts ResponseBuilder::PrepareName(const Recordset& record) const {
    const bool replace = m_services.switches.ReplaceEnye();
    return {NamePart(record, QStringLiteral("MLN"), replace),
            NamePart(record, QStringLiteral("MFN"), replace),
            NamePart(record, QStringLiteral("MMN"), replace)};
}

void ResponseBuilder::AddHead(MatchDataset& response, const MatchContext& match,
                              const NameParts& name) {
    const Recordset& record = match.record;
    Top(response, match, Tags::SpecificCharacterSet, QStringLiteral("ISO_IR 100"));
    Top(response, match, Tags::AccessionNumber,
        FieldText(record.Field(QStringLiteral("RequestNum"))));
    Top(response, match, Tags::InstitutionName, match.mode);
    Top(response, match, Tags::PatientName,
        name.last + QLatin1Char('^') + name.first + QLatin1Char('^') + name.middle);
    Top(response, match, Tags::PatientId, record.Field(QStringLiteral("HN")));
    const QString uid = m_services.switches.GenerateStudyUid()
                            ? m_studyUids.StudyUidFor(match.modality, record)
                            : m_services.uids.NewUid();
    Top(response, match, Tags::StudyInstanceUid, uid);
    if (match.mode != Modes::Corvante)
        Top(response, match, Tags::StudyDescription, record.Field(QStringLiteral("ProcDesc")));
}

void ResponseBuilder::AddTalvekOrPelta(MatchDataset& response, MatchDataset& responseStep,
                                       const MatchContext& match) {
    const Recordset& record = match.record;
    // TALVEK keeps the data of patients registered at the clinic ("T" numbers)
    // in separate columns.
    const bool clinic = match.mode == Modes::Talvek &&
                        FieldText(record.Field(QStringLiteral("HN"))).startsWith(QLatin1Char('T'));
    Top(response, match, Tags::PatientBirthDate,
        record.Field(clinic ? QStringLiteral("CASBirthDate") : QStringLiteral("MASBirthDate")));
    Top(response, match, Tags::PatientSex,
        record.Field(clinic ? QStringLiteral("CASSex") : QStringLiteral("MASS")));
    Step(responseStep, match, Tags::OtherPatientIds, record.Field(QStringLiteral("IDN")));
    Step(responseStep, match, Tags::RequestingPhysician, record.Field(QStringLiteral("DocName")));
    Top(response, match, Tags::RequestedProcedureId, record.Field(QStringLiteral("ProcCode")));
    Top(response, match, Tags::RequestedProcedureDescription,
        record.Field(QStringLiteral("ProcDesc")));
    Top(response, match, Tags::ReferringPhysicianName, record.Field(QStringLiteral("DocName")));
    AddOrderDates(response, responseStep, match);
}

void ResponseBuilder::AddCorvante(MatchDataset& response, MatchDataset& responseStep,
                                  const MatchContext& match) {
    const Recordset& record = match.record;
    Top(response, match, Tags::PatientBirthDate, record.Field(QStringLiteral("MASBirthDate")));
    Top(response, match, Tags::PatientSex, record.Field(QStringLiteral("MASS")));
    Top(response, match, Tags::StudyDate, record.Field(QStringLiteral("TranD")));
    // The order carries no appointment: the step is scheduled for now.
    const QDateTime now = m_services.clock.Now();
    Top(response, match, Tags::StudyTime, now.time());
    Top(response, match, Tags::StepStartDate, now.date());
    Top(response, match, Tags::StepStartTime, now.time());
    Step(responseStep, match, Tags::StepStartDate, now.date());
    Step(responseStep, match, Tags::StepStartTime, now.time());
    Top(response, match, Tags::CurrentPatientLocation, QStringLiteral("OPD"));
}

void ResponseBuilder::AddOrvelline(MatchDataset& response, MatchDataset& responseStep,
                                   const MatchContext& match) {
    const Recordset& record = match.record;
    if (m_services.switches.Trace()) m_services.log.Log(QStringLiteral("orvelline"));
    Top(response, match, Tags::PatientBirthDate, record.Field(QStringLiteral("MASBirthDate")));
    Top(response, match, Tags::PatientSex, FieldText(record.Field(QStringLiteral("MASS"))));
    const QString doctor = FieldText(record.Field(QStringLiteral("DocName")));
    Top(response, match, Tags::ReferringPhysicianName, doctor);
    Step(responseStep, match, Tags::RequestingPhysician, doctor);
    Top(response, match, Tags::RequestedProcedureId,
        FieldText(record.Field(QStringLiteral("ProcCode"))));
    Top(response, match, Tags::RequestedProcedureDescription,
        FieldText(record.Field(QStringLiteral("ProcDesc"))));
    AddOrderDates(response, responseStep, match);
}

// Study and step start from the order's date and time: at the top level and
// in the step item, each only where the request asks at that level.
void ResponseBuilder::AddOrderDates(MatchDataset& response, MatchDataset& responseStep,
                                    const MatchContext& match) {
    const DateAndTime ordered = OrderDateTime(match.record);
    Top(response, match, Tags::StudyDate, ordered.date);
    Top(response, match, Tags::StudyTime, ordered.time);
    Top(response, match, Tags::StepStartDate, ordered.date);
    Top(response, match, Tags::StepStartTime, ordered.time);
    Step(responseStep, match, Tags::StepStartDate, ordered.date);
    Step(responseStep, match, Tags::StepStartTime, ordered.time);
}

// Attributes a modality expects in every item; none of them may cost a match.
void ResponseBuilder::AddTail(MatchDataset& response, const MatchContext& match) {
    IgnoringFailures([&] { Top(response, match, Tags::ReferencedStudySequence, QVariant()); });
    IgnoringFailures([&] { Top(response, match, Tags::RequestedProcedurePriority, QString()); });
    IgnoringFailures([&] { Top(response, match, Tags::PatientTransportArrangements, QString()); });
    if (match.mode == Modes::Talvek || match.mode == Modes::Pelta)
        IgnoringFailures([&] {
            Top(response, match, Tags::AdmissionId, match.record.Field(QStringLiteral("IDN")));
        });
    IgnoringFailures([&] { Top(response, match, Tags::PatientWeight, QString()); });
    IgnoringFailures([&] { Top(response, match, Tags::ConfidentialityConstraint, QString()); });
}

void ResponseBuilder::Top(MatchDataset& response, const MatchContext& match, Tag tag,
                          const QVariant& value) {
    m_requested.AddIfRequested(response, match.request, tag, value);
}

void ResponseBuilder::Step(MatchDataset& responseStep, const MatchContext& match, Tag tag,
                           const QVariant& value) {
    m_requested.AddIfRequested(responseStep, match.requestStep, tag, value);
}
