#include "worklist/bramwoods/OrderFileSource.h"

#include "platform/MwlError.h"
#include "worklist/RequestedAttributes.h"
#include "worklist/Tags.h"
#include "worklist/bramwoods/OrderFileCache.h"

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

QString OrderFileSource::FolderOf(const QString& folderText) {
    if (folderText.endsWith(QLatin1Char('/')) || folderText.endsWith(QLatin1Char('\\')))
        return folderText;
    return folderText + QLatin1Char('/');
}

QString OrderFileSource::StudyUid(const QueryRun& run, const Recordset&) const {
    return run.resources.uids.NewUid();
}

bool OrderFileSource::Answer(QueryRun& run) const {
    ActivityLog& log = run.log;
    const DicomDataset& request = run.keys.request;
    OrderFileCache& cache = run.resources.orderFiles;
    const QString folder = FolderOf(run.settings.switches.hl7FolderText);
    const OrderFileCache::Listing listing = cache.List(folder);
    // Once per folder (and whenever it changes): whether the file system
    // reports the folder's changes or every file is examined at every query.
    if (listing.revalidationChanged)
        log.Log(QStringLiteral("Order files in %1: %2.").arg(folder, listing.revalidation));
    if (listing.problem) throw MwlError(*listing.problem, FailureKind::OrderFolderNotAvailable);
    const OrderFilter filter{FilterKey(request, Tags::PatientId),
                             FilterKey(request, Tags::PatientName),
                             FilterKey(request, Tags::AccessionNumber)};
    const RequestedAttributes requested(log, run.settings.switches.showRequests, request,
                                        run.keys.requestStep);
    Answering answering{OrderItem::Asked::From(request, run.keys.requestStep),
                        QueryValuesOf(run.keys), requested};
    // An item carries what is asked, and five attributes always.
    answering.values.elements = requested.KeyCount() + 5;
    answering.values.stepElements = requested.StepKeyCount();
    log.AppendLog(QStringLiteral("starting"));
    for (const QString& name : listing.names) {
        if (run.connection.Abandoned()) return StopEarly(run);
        std::shared_ptr<const OrderItem> order;
        try {
            order = cache.Item(listing, name);
        } catch (const MwlError& error) {
            log.AppendLog(error.Description() + QStringLiteral("; skipped."));
        }
        if (order && !filter.Accepts(order->Fields()))
            log.AppendLog(QStringLiteral("skipping."));
        else if (order)
            Send(run, name, *order, answering);
    }
    cache.Prune();
    log.AppendLog(QStringLiteral("Completed."));
    return true;
}

// The order files name no modality: the step's is the one the query names,
// or "OT" (other).
OrderItem::QueryValues OrderFileSource::QueryValuesOf(const RequestKeys& keys) {
    OrderItem::QueryValues values;
    values.encoding = keys.Encoding();
    QString modality = keys.StepLiteral(Tags::Modality).toUpper();
    if (modality.isEmpty()) modality = QStringLiteral("OT");
    values.modality =
        LegalWireValue(Tags::Modality, modality, values.encoding, values.modalityFixes);
    values.stationAeTitle = LegalWireValue(Tags::ScheduledStationAeTitle,
                                           keys.StepLiteral(Tags::ScheduledStationAeTitle),
                                           values.encoding, values.stationAeTitleFixes);
    return values;
}

void OrderFileSource::Send(QueryRun& run, const QString& name, const OrderItem& order,
                           const Answering& answering) const {
    const RequestedAttributes& requested = answering.requested;
    run.log.AppendLog(order.SendingLine());
    if (requested.ShowsRequests())
        order.ForEachAsked(answering.asked, answering.values,
                           [&](Tag tag, const QVariant& value) { requested.Echo(tag, value); });
    order.ForEachFix(answering.asked, answering.values, [&](Tag tag, ValueFixes fixes) {
        requested.NoteFixes(QStringLiteral("file ") + name, tag, fixes);
    });
    MatchDataset item = order.Item(answering.asked, answering.values);
    requested.AnswerTheRest(item, *item.SequenceItem(Tags::StepSequence));
    run.connection.SendPending(std::move(item));
    run.log.AppendLog(QStringLiteral("sent.. "));
}

bool OrderFileSource::OrderFilter::Accepts(const OrderFields& order) const {
    return !Differs(patientId, order.FieldView(8)) && !Differs(patientName, order.FieldView(10)) &&
           !Differs(accession, order.FieldView(20));
}

void OrderFileSource::ListHL7Folder(const QString& folderText, ActivityLog& log,
                                    const Sink& appendToListing, const Sink& showMessage) {
    const QString crlf = QStringLiteral("\r\n");
    const QString folder = FolderOf(folderText);
    appendToListing(crlf + QStringLiteral("starting"));
    try {
        for (const QString& name : OrderFileCache::OrderFiles(folder)) {
            appendToListing(crlf + folder + name);
            log.AppendLog(DecodeOrderLine(ReadFirstLine(folder + name).bytes));
        }
    } catch (const MwlError& error) {
        showMessage(error.Description());
        return;
    }
    appendToListing(crlf + QStringLiteral("done"));
}
