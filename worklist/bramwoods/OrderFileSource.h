#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "worklist/RequestedAttributes.h"
#include "worklist/WorklistSource.h"
#include "worklist/bramwoods/OrderItem.h"

// BRAMWOODS: a folder of HL7 order files ("*.HL7"), one order per file, its
// first line cut at "|" into fields. One item per file whose patient ID,
// name and accession number fit the query. Queries only read the files; a
// performed step reported COMPLETED moves its order's file out of the folder,
// so later queries no longer see it. No database, no result limit.
class OrderFileSource : public WorklistSource {
public:
    using Sink = std::function<void(const QString&)>;

    QString Name() const override { return QStringLiteral("BRAMWOODS"); }
    QString ConnectionFile() const override { return QString(); }
    QString BaseStatement(SqlDialect) const override { return QString(); }
    QString Statement(const StatementInput&) const override { return QString(); }
    void FillMatch(MatchFill&) const override {}
    QString StudyUid(const QueryRun& run, const Recordset& record) const override;
    // Sends one pending match per matching file.
    bool Answer(QueryRun& run) const override;
    ListingPlan Listing(const QString&, SqlDialect) const override { return {{}, false, true}; }
    QString ListingLine(const Recordset&) const override { return QString(); }
    std::optional<QString> DoneExamsStatement(SqlDialect) const override { return std::nullopt; }
    bool OrdersAreFiles() const override { return true; }

    // The "Test" listing of the folder: the path of each order file to the
    // listing, its first line to the activity log. A file that cannot be
    // read ends the listing with a message.
    static void ListHL7Folder(const QString& folderText, ActivityLog& log,
                              const Sink& appendToListing, const Sink& showMessage);
    // The folder text with a trailing separator.
    static QString FolderOf(const QString& folderText);

private:
    // The query's patient ID, name and accession number, read once per run.
    struct OrderFilter {
        std::optional<QString> patientId;
        std::optional<QString> patientName;
        std::optional<QString> accession;
        bool Accepts(const OrderFields& order) const;
    };

    struct Answering {
        OrderItem::Asked asked;
        OrderItem::QueryValues values;
        const RequestedAttributes& requested;
    };
    static OrderItem::QueryValues QueryValuesOf(const RequestKeys& keys);
    void Send(QueryRun& run, const QString& name, const OrderItem& order,
              const Answering& answering) const;
};
