#include "worklist/bramwoods/OrderItem.h"

#include <QDate>
#include <algorithm>

#include "platform/dicom/UidGenerator.h"
#include "worklist/Tags.h"

namespace {

// An eight-digit YYYYMMDD field; anything else gives an empty value, the
// DICOM way of saying "unknown".
QVariant DateField(QStringView text) {
    if (text.size() != 8) return QString();
    const QDate date(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
    return date.isValid() ? QVariant(date) : QVariant(QString());
}

// A field that holds something, but no date, was changed to say so.
ValueFixes DateFieldFixes(QStringView text) {
    return !text.isEmpty() && DateField(text).typeId() != QMetaType::QDate ? ValueFix::NotDateOrTime
                                                                           : 0u;
}

// The order has a day, not an hour: its step starts at the day's beginning.
QVariant StartTimeOf(const QVariant& date) {
    return date.typeId() == QMetaType::QDate ? QVariant(QTime(0, 0)) : QVariant(QString());
}

// The same order (accession number and patient ID) gets the same UID at every
// query; fields hold no "|", so the two cannot run into each other.
QString StudyUidOf(const OrderFields& f) {
    return UidFromName(f.Field(20) + QLatin1Char('|') + f.Field(8));
}

bool IsAscii(QStringView text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

}  // namespace

OrderItem::Asked OrderItem::Asked::From(const DicomDataset& request,
                                        const DicomDataset& requestStep) {
    Asked asked;
    asked.characterSet = request.Contains(Tags::SpecificCharacterSet);
    asked.name = request.Contains(Tags::PatientName);
    asked.birthDate = request.Contains(Tags::PatientBirthDate);
    asked.sex = request.Contains(Tags::PatientSex);
    asked.address = request.Contains(Tags::PatientAddress);
    asked.studyDate = request.Contains(Tags::StudyDate);
    asked.referencedStudy = request.Contains(Tags::ReferencedStudySequence);
    asked.priority = request.Contains(Tags::RequestedProcedurePriority);
    asked.transport = request.Contains(Tags::PatientTransportArrangements);
    asked.admission = request.Contains(Tags::AdmissionId);
    asked.weight = request.Contains(Tags::PatientWeight);
    asked.confidentiality = request.Contains(Tags::ConfidentialityConstraint);
    asked.studyUid = request.Contains(Tags::StudyInstanceUid);
    asked.procedureId = request.Contains(Tags::RequestedProcedureId);
    asked.modality = requestStep.Contains(Tags::Modality);
    asked.stationAeTitle = requestStep.Contains(Tags::ScheduledStationAeTitle);
    asked.stepId = requestStep.Contains(Tags::StepId);
    asked.stepStartDate = requestStep.Contains(Tags::StepStartDate);
    asked.stepStartTime = requestStep.Contains(Tags::StepStartTime);
    return asked;
}

OrderItem::OrderItem(OrderFields fields) : m_fields(std::move(fields)) {
    Make(m_latin1, TextEncoding::Latin1);
    if (IsAscii(m_fields.Line())) return;
    m_utf8 = std::make_unique<Wire>();
    Make(*m_utf8, TextEncoding::Utf8);
}

void OrderItem::Make(Wire& wire, TextEncoding encoding) const {
    const OrderFields& f = m_fields;
    const QVariant studyDate = DateField(f.FieldView(24));
    const std::array<std::pair<Tag, QVariant>, kValues> values = {{
        {Tags::PatientAddress, f.Field(1)},
        {Tags::PatientId, f.Field(8)},
        {Tags::PatientName, f.Field(10)},
        {Tags::PatientBirthDate, DateField(f.FieldView(12))},
        {Tags::PatientSex, f.Field(13)},
        {Tags::PatientAddress, f.Field(17)},
        {Tags::AccessionNumber, f.Field(20)},
        {Tags::SeriesDescription, f.Field(22)},
        {Tags::StudyDate, studyDate},
        {Tags::StudyInstanceUid, StudyUidOf(f)},
        {Tags::StepStartTime, StartTimeOf(studyDate)},
    }};
    std::array<ValueFixes, kValues> fixes{};
    fixes[BirthDate] = DateFieldFixes(f.FieldView(12));
    fixes[StudyDate] = DateFieldFixes(f.FieldView(24));
    wire.bytes.reserve(f.Line().size() + 64);
    for (int i = 0; i < kValues; ++i) {
        const auto& [tag, value] = values[static_cast<size_t>(i)];
        Span& span = wire.spans[static_cast<size_t>(i)];
        span.at = static_cast<quint32>(wire.bytes.size());
        wire.bytes += LegalWireValue(tag, value, encoding, fixes[static_cast<size_t>(i)]);
        span.size = static_cast<quint32>(wire.bytes.size()) - span.at;
    }
    wire.bytes.squeeze();
    if (std::any_of(fixes.cbegin(), fixes.cend(), [](ValueFixes f) { return f != 0; }))
        wire.fixes = std::make_unique<std::array<ValueFixes, kValues>>(fixes);
}

const OrderItem::Wire& OrderItem::WireFor(TextEncoding encoding) const {
    return encoding == TextEncoding::Utf8 && m_utf8 ? *m_utf8 : m_latin1;
}

QString OrderItem::SendingLine() const {
    const OrderFields& f = m_fields;
    QString line = QStringLiteral("sending.");
    line.reserve(96);
    line.append(f.FieldView(10)).append(u"  CompanyCode:").append(f.FieldView(1));
    line.append(u" AccessionNum:").append(f.FieldView(20));
    line.append(u" Examination: ").append(f.FieldView(22));
    return line;
}

// In tag order, so every attribute is appended; the values point into this
// order item, which the match keeps alive. The order number (field 20) is
// also the Requested Procedure ID and the step's ID, and the order's date
// its start date.
MatchDataset OrderItem::Item(const Asked& asked, const QueryValues& query) const {
    const Wire& wire = WireFor(query.encoding);
    const auto value = [&wire](Value which) {
        const Span span = wire.spans[which];
        return QByteArray::fromRawData(wire.bytes.constData() + span.at, span.size);
    };
    MatchDataset item(query.encoding);
    item.Reserve(query.elements);
    item.KeepAlive(shared_from_this());
    if (asked.characterSet)
        item.AddWire(Tags::SpecificCharacterSet, CharacterSetTerm(query.encoding));
    if (asked.studyDate) item.AddWire(Tags::StudyDate, value(StudyDate));
    item.AddWire(Tags::AccessionNumber, value(Accession));
    item.AddWire(Tags::SeriesDescription, value(Examination));
    if (asked.referencedStudy) item.AddEmptySequence(Tags::ReferencedStudySequence);
    if (asked.name) item.AddWire(Tags::PatientName, value(Name));
    item.AddWire(Tags::PatientId, value(PatientId));
    if (asked.birthDate) item.AddWire(Tags::PatientBirthDate, value(BirthDate));
    if (asked.sex) item.AddWire(Tags::PatientSex, value(Sex));
    if (asked.weight) item.AddWire(Tags::PatientWeight, QByteArray());
    item.AddWire(Tags::PatientAddress, value(asked.address ? Address : Company));
    if (asked.studyUid) item.AddWire(Tags::StudyInstanceUid, value(StudyUid));
    if (asked.admission) item.AddWire(Tags::AdmissionId, value(PatientId));
    MatchDataset& step = item.AddSequenceItem(Tags::StepSequence);
    step.Reserve(query.stepElements);
    if (asked.modality) step.AddWire(Tags::Modality, query.modality);
    if (asked.stationAeTitle) step.AddWire(Tags::ScheduledStationAeTitle, query.stationAeTitle);
    if (asked.stepStartDate) step.AddWire(Tags::StepStartDate, value(StudyDate));
    if (asked.stepStartTime) step.AddWire(Tags::StepStartTime, value(StepStartTime));
    if (asked.stepId) step.AddWire(Tags::StepId, value(Accession));
    if (asked.procedureId) item.AddWire(Tags::RequestedProcedureId, value(Accession));
    if (asked.priority) item.AddWire(Tags::RequestedProcedurePriority, QByteArray());
    if (asked.transport) item.AddWire(Tags::PatientTransportArrangements, QByteArray());
    if (asked.confidentiality) item.AddWire(Tags::ConfidentialityConstraint, QByteArray());
    return item;
}

void OrderItem::ForEachAsked(const Asked& asked, const QueryValues& query,
                             const std::function<void(Tag, const QVariant&)>& visit) const {
    const OrderFields& f = m_fields;
    if (asked.characterSet)
        visit(Tags::SpecificCharacterSet, QString::fromLatin1(CharacterSetTerm(query.encoding)));
    if (asked.name) visit(Tags::PatientName, f.Field(10));
    if (asked.birthDate) visit(Tags::PatientBirthDate, DateField(f.FieldView(12)));
    if (asked.sex) visit(Tags::PatientSex, f.Field(13));
    if (asked.address) visit(Tags::PatientAddress, f.Field(17));
    if (asked.studyDate) visit(Tags::StudyDate, DateField(f.FieldView(24)));
    if (asked.referencedStudy) visit(Tags::ReferencedStudySequence, QString());
    if (asked.priority) visit(Tags::RequestedProcedurePriority, QString());
    if (asked.transport) visit(Tags::PatientTransportArrangements, QString());
    if (asked.admission) visit(Tags::AdmissionId, f.Field(8));
    if (asked.weight) visit(Tags::PatientWeight, QString());
    if (asked.confidentiality) visit(Tags::ConfidentialityConstraint, QString());
    if (asked.studyUid) visit(Tags::StudyInstanceUid, StudyUidOf(f));
    if (asked.procedureId) visit(Tags::RequestedProcedureId, f.Field(20));
    if (asked.modality) visit(Tags::Modality, QString::fromLatin1(query.modality));
    if (asked.stationAeTitle)
        visit(Tags::ScheduledStationAeTitle, QString::fromLatin1(query.stationAeTitle));
    if (asked.stepStartDate) visit(Tags::StepStartDate, DateField(f.FieldView(24)));
    if (asked.stepStartTime) visit(Tags::StepStartTime, StartTimeOf(DateField(f.FieldView(24))));
    if (asked.stepId) visit(Tags::StepId, f.Field(20));
}

void OrderItem::ForEachFix(const Asked& asked, const QueryValues& query,
                           const std::function<void(Tag, ValueFixes)>& visit) const {
    if (asked.modality && query.modalityFixes) visit(Tags::Modality, query.modalityFixes);
    if (asked.stationAeTitle && query.stationAeTitleFixes)
        visit(Tags::ScheduledStationAeTitle, query.stationAeTitleFixes);
    const Wire& wire = WireFor(query.encoding);
    if (!wire.fixes) return;
    const auto note = [&](bool sent, Tag tag, Value which) {
        const ValueFixes fixes = (*wire.fixes)[which];
        if (sent && fixes) visit(tag, fixes);
    };
    note(asked.studyDate, Tags::StudyDate, StudyDate);
    note(true, Tags::AccessionNumber, Accession);
    note(true, Tags::SeriesDescription, Examination);
    note(asked.name, Tags::PatientName, Name);
    note(true, Tags::PatientId, PatientId);
    note(asked.birthDate, Tags::PatientBirthDate, BirthDate);
    note(asked.sex, Tags::PatientSex, Sex);
    note(true, Tags::PatientAddress, asked.address ? Address : Company);
    note(asked.admission, Tags::AdmissionId, PatientId);
    note(asked.stepStartDate, Tags::StepStartDate, StudyDate);
    note(asked.stepId, Tags::StepId, Accession);
    note(asked.procedureId, Tags::RequestedProcedureId, Accession);
}
