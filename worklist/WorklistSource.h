#pragma once

#include <QString>
#include <optional>

#include "platform/ActivityLog.h"
#include "platform/Clock.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/QueryConnection.h"
#include "platform/dicom/UidGenerator.h"
#include "platform/his/HisConnection.h"
#include "platform/his/Recordset.h"
#include "worklist/QuerySnapshot.h"
#include "worklist/StatusView.h"

class OrderFileCache;
class StudyUidLocks;

// The keys of one worklist request: the request, the first item of its
// Scheduled Procedure Step Sequence and the modality asked for there.
struct RequestKeys {
    DicomDataset request;
    DicomDataset requestStep;
    QString modality;

    // Matches go out in UTF-8 when the query declared it, in ISO 8859-1
    // otherwise.
    TextEncoding Encoding() const;
    // The value of a step item key that names one thing exactly (no
    // wildcard, not a list); empty otherwise.
    QString StepLiteral(Tag tag) const;
};

// What a query worker lends the sources: its own HIS connection and the
// parts every worker shares.
struct QueryResources {
    HisConnection& his;
    UidGenerator& uids;
    const Clock& clock;
    StatusView& status;
    StudyUidLocks& studyUidLocks;
    OrderFileCache& orderFiles;
};

// One query on its way through its source.
struct QueryRun {
    QueryConnection& connection;
    const RequestKeys& keys;
    const QuerySnapshot& settings;
    ActivityLog& log;
    QueryResources& resources;
};

// What a statement for a request's keys is built from.
struct StatementInput {
    const RequestKeys& keys;
    const QuerySnapshot& settings;
    SqlDialect dialect;
    ActivityLog& log;
};

// The "Test" listing of a mode's open orders.
struct ListingPlan {
    QString statement;              // empty: nothing to run
    bool showsStatement = false;    // the statement goes into the SQL box first
    bool listsOrderFolder = false;  // the order files are listed instead
};

class MatchFill;

// One HIS back-end (connection mode): where its orders come from, how a
// worklist query becomes its statement, how one order record fills one
// worklist item, and what the operator's tools run on it. The query handler,
// the tools and the Study UID step know the back-ends only through this.
class WorklistSource {
public:
    virtual ~WorklistSource() = default;

    // "TALVEK", "PELTA", "CORVANTE", "BRAMWOODS" or "ORVELLINE".
    virtual QString Name() const = 0;
    // The connection-string file in the home folder ("\CORVANTE.txt");
    // empty when the mode uses no database.
    virtual QString ConnectionFile() const = 0;
    // The dialect of the mode's own HIS server, for a driver that is not
    // one of the known ones.
    virtual SqlDialect NativeDialect() const { return SqlDialect::SqlServer; }
    SqlDialect DialectOf(std::optional<SqlDialect> driver) const {
        return driver.value_or(NativeDialect());
    }
    // The fixed head of the mode's statement (BaseSQL); empty when it has none.
    virtual QString BaseStatement(SqlDialect dialect) const = 0;
    // The statement for the request's keys; empty: nothing to run.
    virtual QString Statement(const StatementInput& input) const = 0;
    // Fills one worklist item from one order record.
    virtual void FillMatch(MatchFill& fill) const = 0;
    // The Modality of an order's step: the modality the mode's statement
    // selected it for. By default the one the query names, or, where it names
    // none, x-ray (CR): what every database mode reads for a query without one.
    virtual QString StepModality(const RequestKeys& keys, const Recordset& record) const;
    // The Study Instance UID of one order record.
    virtual QString StudyUid(const QueryRun& run, const Recordset& record) const = 0;
    // The mode's HIS holds TALVEK's request tables, which the Study UID step
    // of every database mode reads and writes with "Generate Study UID".
    virtual bool HasTalvekRequestTables() const { return false; }
    // Answers the query: one pending match per order, up to the result
    // limit; the handler sends the final status. False when it stopped early
    // because the modality cancelled or went away.
    virtual bool Answer(QueryRun& run) const = 0;

    // "Test": what is listed, and one line of the listing per order record.
    virtual ListingPlan Listing(const QString& modalityBox, SqlDialect dialect) const = 0;
    virtual QString ListingLine(const Recordset& record) const = 0;
    // "Exams Done...": the statement of the finished exams, where the mode
    // keeps them.
    virtual std::optional<QString> DoneExamsStatement(SqlDialect dialect) const = 0;

    // When a modality reports a performed step COMPLETED: the statement that
    // marks its order done where the mode has one by default (the site's
    // CompletedStatement replaces it); empty: none.
    virtual QString DefaultCompletedStatement() const { return QString(); }
    // The orders are files: a COMPLETED step moves them out of the order
    // folder instead of running statements.
    virtual bool OrdersAreFiles() const { return false; }

protected:
    // The modality cancelled, went away or stopped reading: nobody receives
    // the rest, and the worker is free for the other modalities at once.
    // Returns false, for Answer to return.
    static bool StopEarly(QueryRun& run);
};
