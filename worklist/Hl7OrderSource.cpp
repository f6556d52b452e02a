#include "worklist/Hl7OrderSource.h"

#include <QDate>
#include <QDir>
#include <algorithm>
#include <optional>

#include "platform/MwlError.h"
#include "worklist/Tags.h"

namespace {

// An eight-digit YYYYMMDD field; anything else gives an empty value, the
// DICOM way of saying "unknown".
QVariant DateField(const QString& text) {
    if (text.size() != 8) return QString();
    const QDate date(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
    return date.isValid() ? QVariant(date) : QVariant(QString());
}

// A key that is present with a value must equal its field exactly.
std::optional<QString> FilterKey(const DicomDataset& request, Tag tag) {
    if (!request.Contains(tag)) return std::nullopt;
    const DicomAttribute key = request.Item(tag);
    if (key.IsNull()) return std::nullopt;
    return key.Text();
}

bool Differs(const std::optional<QString>& key, QStringView field) { return key && *key != field; }

}  // namespace

Hl7OrderSource::Hl7OrderSource(WorklistServices& services, Yield yield)
    : m_services(services),
      m_requested(services.log, services.switches),
      m_yield(std::move(yield)) {}

QString Hl7OrderSource::FolderOf(const QString& folderText) {
    if (folderText.endsWith(QLatin1Char('/')) || folderText.endsWith(QLatin1Char('\\')))
        return folderText;
    return folderText + QLatin1Char('/');
}

// A listing of its own for every run: a query that starts during a yield
// does not disturb this one.
QStringList Hl7OrderSource::OrderFiles(const QString& folder) const {
    QStringList files =
        QDir(folder).entryList({QStringLiteral("*.HL7")}, QDir::Files, QDir::Unsorted);
    std::sort(files.begin(), files.end());
    return files;
}

bool Hl7OrderSource::Run(QueryConnection& connection, const DicomDataset& request) {
    ActivityLog& log = m_services.log;
    const QString folder = FolderOf(m_services.switches.Hl7FolderText());
    const QStringList files = OrderFiles(folder);
    const OrderFilter filter{FilterKey(request, Tags::PatientId),
                             FilterKey(request, Tags::PatientName),
                             FilterKey(request, Tags::AccessionNumber)};
    const FolderStamps stamps(folder);
    log.AppendLog(QStringLiteral("starting"));
    for (const QString& name : files) {
        if (connection.Abandoned()) return false;
        std::shared_ptr<const OrderFields> order;
        try {
            order = m_cache.Fields(stamps, folder, name);
        } catch (const MwlError& error) {
            log.AppendLog(error.Description() + QStringLiteral("; skipped."));
        }
        if (order && !filter.Accepts(*order)) {
            log.AppendLog(QStringLiteral("skipping."));
        } else if (order) {
            log.AppendLog(QStringLiteral("sending.") + order->Field(10) +
                          "  CompanyCode:" + order->Field(1) + " AccessionNum:" + order->Field(20) +
                          " Examination: " + order->Field(22));
            connection.SendPending(BuildItem(request, *order));
            log.AppendLog(QStringLiteral("sent.. "));
        }
        m_yield();
    }
    m_cache.Prune();
    log.AppendLog(QStringLiteral("Completed."));
    return true;
}

bool Hl7OrderSource::OrderFilter::Accepts(const OrderFields& order) const {
    return !Differs(patientId, order.FieldView(8)) && !Differs(patientName, order.FieldView(10)) &&
           !Differs(accession, order.FieldView(20));
}

// Attributes in a fixed order; later ones replace earlier ones, so the
// accession number ends as field 20 and the address as field 17 when asked.
DicomDataset Hl7OrderSource::BuildItem(const DicomDataset& request, const OrderFields& order) {
    m_requested.ReadSwitches();
    DicomDataset item;
    auto asked = [&](Tag tag, const QVariant& value) {
        m_requested.AddIfRequested(item, request, tag, value);
    };
    item.AddSequenceItem(Tags::StepSequence);
    asked(Tags::SpecificCharacterSet, QStringLiteral("ISO_IR 100"));
    item.Add(Tags::AccessionNumber, order.Field(1));
    item.Add(Tags::PatientAddress, order.Field(1));
    item.Add(Tags::PatientId, order.Field(8));
    asked(Tags::PatientName, order.Field(10));
    asked(Tags::PatientBirthDate, DateField(order.Field(12)));
    asked(Tags::PatientSex, order.Field(13));
    asked(Tags::PatientAddress, order.Field(17));
    item.Add(Tags::AccessionNumber, order.Field(20));
    item.Add(Tags::SeriesDescription, order.Field(22));
    asked(Tags::StudyDate, DateField(order.Field(24)));
    IgnoringFailures([&] { asked(Tags::ReferencedStudySequence, QVariant()); });
    IgnoringFailures([&] { asked(Tags::RequestedProcedurePriority, QString()); });
    IgnoringFailures([&] { asked(Tags::PatientTransportArrangements, QString()); });
    IgnoringFailures([&] { asked(Tags::AdmissionId, order.Field(8)); });
    IgnoringFailures([&] { asked(Tags::PatientWeight, QString()); });
    IgnoringFailures([&] { asked(Tags::ConfidentialityConstraint, QString()); });
    return item;
}

void Hl7OrderSource::ListHL7Folder(const std::function<void(const QString&)>& appendToListing,
                                   const std::function<void(const QString&)>& showMessage) {
    const QString crlf = QStringLiteral("\r\n");
    const QString folder = FolderOf(m_services.switches.Hl7FolderText());
    appendToListing(crlf + QStringLiteral("starting"));
    for (const QString& name : OrderFiles(folder)) {
        appendToListing(crlf + folder + name);
        try {
            m_services.log.AppendLog(DecodeOrderLine(ReadFirstLine(folder + name)));
        } catch (const MwlError& error) {
            showMessage(error.Description());
            return;
        }
        m_yield();
    }
    appendToListing(crlf + QStringLiteral("done"));
}
