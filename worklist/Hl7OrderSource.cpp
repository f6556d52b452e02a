#include "worklist/Hl7OrderSource.h"

#include <optional>

#include "platform/MwlError.h"
#include "worklist/Tags.h"

namespace {

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

bool Hl7OrderSource::Run(QueryConnection& connection, const DicomDataset& request) {
    ActivityLog& log = m_services.log;
    const OrderFileCache::Listing listing =
        m_cache.List(FolderOf(m_services.switches.Hl7FolderText()));
    NoteRevalidation();
    const OrderFilter filter{FilterKey(request, Tags::PatientId),
                             FilterKey(request, Tags::PatientName),
                             FilterKey(request, Tags::AccessionNumber)};
    const OrderItem::Asked asked = OrderItem::Asked::From(request);
    log.AppendLog(QStringLiteral("starting"));
    for (const QString& name : listing.names) {
        if (connection.Abandoned()) return false;
        std::shared_ptr<const OrderItem> order;
        try {
            order = m_cache.Item(listing, name);
        } catch (const MwlError& error) {
            log.AppendLog(error.Description() + QStringLiteral("; skipped."));
        }
        if (order && !filter.Accepts(order->Fields()))
            log.AppendLog(QStringLiteral("skipping."));
        else if (order)
            Send(connection, *order, asked);
        m_yield();
    }
    m_cache.Prune();
    log.AppendLog(QStringLiteral("Completed."));
    return true;
}

void Hl7OrderSource::Send(QueryConnection& connection, const OrderItem& order,
                          const OrderItem::Asked& asked) {
    ActivityLog& log = m_services.log;
    log.AppendLog(order.SendingLine());
    m_requested.ReadSwitches();
    if (m_requested.ShowsRequests())
        order.ForEachAsked(asked,
                           [&](Tag tag, const QVariant& value) { m_requested.Echo(tag, value); });
    connection.SendPending(order.Item(asked));
    log.AppendLog(QStringLiteral("sent.. "));
}

// Once per folder (and whenever it changes): whether the file system
// reports the folder's changes or every file is examined at every query.
void Hl7OrderSource::NoteRevalidation() {
    const QString revalidation = m_cache.Revalidation();
    if (revalidation == m_revalidation) return;
    m_revalidation = revalidation;
    m_services.log.Log(QStringLiteral("Order files: %1.").arg(revalidation));
}

bool Hl7OrderSource::OrderFilter::Accepts(const OrderFields& order) const {
    return !Differs(patientId, order.FieldView(8)) && !Differs(patientName, order.FieldView(10)) &&
           !Differs(accession, order.FieldView(20));
}

void Hl7OrderSource::ListHL7Folder(const std::function<void(const QString&)>& appendToListing,
                                   const std::function<void(const QString&)>& showMessage) {
    const QString crlf = QStringLiteral("\r\n");
    const QString folder = FolderOf(m_services.switches.Hl7FolderText());
    appendToListing(crlf + QStringLiteral("starting"));
    for (const QString& name : OrderFileCache::OrderFiles(folder)) {
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
