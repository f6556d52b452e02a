#include "mpps/PerformedStep.h"

#include "mpps/StepTags.h"

namespace {

QVariant ValueOrNull(const QString& text) {
    if (text.isEmpty()) return QVariant(QMetaType::fromType<QString>());
    return text;
}

// A DA and a TM value as one date and time; no date, no value. A time
// without seconds or with a fraction is read to the whole second.
QString DateTimeText(const DicomDataset& step, Tag dateTag, Tag timeTag) {
    const QDate date = QDate::fromString(step.Item(dateTag).Text().trimmed(), QStringLiteral("yyyyMMdd"));
    if (!date.isValid()) return QString();
    QString digits = step.Item(timeTag).Text().trimmed().section(QLatin1Char('.'), 0, 0);
    digits.remove(QLatin1Char(':'));
    QTime time = QTime::fromString(digits.leftJustified(6, QLatin1Char('0')).left(6),
                                   QStringLiteral("HHmmss"));
    if (!time.isValid()) time = QTime(0, 0);
    return date.toString(QStringLiteral("yyyy-MM-dd ")) + time.toString(QStringLiteral("HH:mm:ss"));
}

}  // namespace

std::optional<StepState> PerformedStep::NextToWrite() const {
    if (!written) return StepState::InProgress;
    if (*written == state) return std::nullopt;
    return state;
}

QStringList PerformedStep::Accessions() const {
    QStringList accessions;
    for (int i = 0; i < ScheduledSteps(); ++i) {
        const auto item = attributes.SequenceItem(StepTags::ScheduledStepAttributes, i);
        const QString accession = item ? item->Item(StepTags::AccessionNumber).Text().trimmed() : QString();
        if (!accession.isEmpty() && !accessions.contains(accession)) accessions << accession;
    }
    return accessions;
}

QString PerformedStep::PatientName() const {
    return attributes.Item(StepTags::PatientName).Text().trimmed();
}

QString PerformedStep::PatientId() const {
    return attributes.Item(StepTags::PatientId).Text().trimmed();
}

QString PerformedStep::Station() const {
    return attributes.Item(StepTags::PerformedStationAeTitle).Text().trimmed();
}

int PerformedStep::ScheduledSteps() const {
    return static_cast<int>(attributes.SequenceItems(StepTags::ScheduledStepAttributes));
}

QStringList PerformedStep::ParameterNames() {
    return {QStringLiteral("AccessionNumber"),          QStringLiteral("RequestedProcedureID"),
            QStringLiteral("ScheduledProcedureStepID"), QStringLiteral("StudyInstanceUID"),
            QStringLiteral("PerformedProcedureStepID"), QStringLiteral("PerformedStationAETitle"),
            QStringLiteral("StartDateTime"),            QStringLiteral("EndDateTime")};
}

SqlParameters PerformedStep::ItemParameters(int item) const {
    const DicomDataset scheduled =
        attributes.SequenceItem(StepTags::ScheduledStepAttributes, item).value_or(DicomDataset());
    const auto text = [](const DicomDataset& from, Tag tag) { return from.Item(tag).Text().trimmed(); };
    const QStringList values = {
        text(scheduled, StepTags::AccessionNumber),
        text(scheduled, StepTags::RequestedProcedureId),
        text(scheduled, StepTags::ScheduledProcedureStepId),
        text(scheduled, StepTags::StudyInstanceUid),
        text(attributes, StepTags::PerformedProcedureStepId),
        text(attributes, StepTags::PerformedStationAeTitle),
        DateTimeText(attributes, StepTags::StartDate, StepTags::StartTime),
        DateTimeText(attributes, StepTags::EndDate, StepTags::EndTime)};
    const QStringList names = ParameterNames();
    SqlParameters parameters;
    for (qsizetype i = 0; i < names.size(); ++i) parameters.append({names[i], ValueOrNull(values[i])});
    return parameters;
}
