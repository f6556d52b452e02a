#include "worklist/bramwoods/OrderItem.h"

#include <QDate>

#include "worklist/Tags.h"

namespace {

const QByteArray kCharacterSet = QByteArrayLiteral("ISO_IR 100");

// An eight-digit YYYYMMDD field; anything else gives an empty value, the
// DICOM way of saying "unknown".
QVariant DateField(QStringView text) {
    if (text.size() != 8) return QString();
    const QDate date(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
    return date.isValid() ? QVariant(date) : QVariant(QString());
}

}  // namespace

OrderItem::Asked OrderItem::Asked::From(const DicomDataset& request) {
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
    return asked;
}

OrderItem::OrderItem(OrderFields fields) : m_fields(std::move(fields)) {
    const OrderFields& f = m_fields;
    m_company = Keep(Tags::PatientAddress, f.Field(1));
    m_patientId = Keep(Tags::PatientId, f.Field(8));
    m_name = Keep(Tags::PatientName, f.Field(10));
    m_birthDate = Keep(Tags::PatientBirthDate, DateField(f.FieldView(12)));
    m_sex = Keep(Tags::PatientSex, f.Field(13));
    m_address = Keep(Tags::PatientAddress, f.Field(17));
    m_accession = Keep(Tags::AccessionNumber, f.Field(20));
    m_examination = Keep(Tags::SeriesDescription, f.Field(22));
    m_studyDate = Keep(Tags::StudyDate, DateField(f.FieldView(24)));
    m_wire.squeeze();
}

OrderItem::Span OrderItem::Keep(Tag tag, const QVariant& value) {
    const QByteArray wire = MatchDataset::WireValue(tag, value);
    const Span span{m_wire.size(), wire.size()};
    m_wire += wire;
    return span;
}

QByteArray OrderItem::Value(Span span) const {
    return QByteArray::fromRawData(m_wire.constData() + span.at, span.size);
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
// order item, which the match keeps alive.
MatchDataset OrderItem::Item(const Asked& asked) const {
    MatchDataset item;
    item.KeepAlive(shared_from_this());
    if (asked.characterSet) item.AddWire(Tags::SpecificCharacterSet, kCharacterSet);
    if (asked.studyDate) item.AddWire(Tags::StudyDate, Value(m_studyDate));
    item.AddWire(Tags::AccessionNumber, Value(m_accession));
    item.AddWire(Tags::SeriesDescription, Value(m_examination));
    if (asked.referencedStudy) item.AddEmptySequence(Tags::ReferencedStudySequence);
    if (asked.name) item.AddWire(Tags::PatientName, Value(m_name));
    item.AddWire(Tags::PatientId, Value(m_patientId));
    if (asked.birthDate) item.AddWire(Tags::PatientBirthDate, Value(m_birthDate));
    if (asked.sex) item.AddWire(Tags::PatientSex, Value(m_sex));
    if (asked.weight) item.AddWire(Tags::PatientWeight, QByteArray());
    item.AddWire(Tags::PatientAddress, Value(asked.address ? m_address : m_company));
    if (asked.admission) item.AddWire(Tags::AdmissionId, Value(m_patientId));
    item.AddSequenceItem(Tags::StepSequence);
    if (asked.priority) item.AddWire(Tags::RequestedProcedurePriority, QByteArray());
    if (asked.transport) item.AddWire(Tags::PatientTransportArrangements, QByteArray());
    if (asked.confidentiality) item.AddWire(Tags::ConfidentialityConstraint, QByteArray());
    return item;
}

void OrderItem::ForEachAsked(const Asked& asked,
                             const std::function<void(Tag, const QVariant&)>& visit) const {
    const OrderFields& f = m_fields;
    if (asked.characterSet) visit(Tags::SpecificCharacterSet, QString::fromLatin1(kCharacterSet));
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
}
