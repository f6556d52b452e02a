#pragma once

#include "worklist/WorklistSource.h"

class MatchFill;
class RequestedAttributes;

// What the four SQL back-ends share: the query runs the mode's statement (or
// the SQL box's, with "Return this Query") on the worker's HIS connection and
// sends one match per order record, up to the result limit; the Study UID
// step is TALVEK's radiology tables in every one of them.
class DatabaseSource : public WorklistSource {
public:
    bool Answer(QueryRun& run) const override;
    QString StudyUid(const QueryRun& run, const Recordset& record) const override;
    std::optional<QString> DoneExamsStatement(SqlDialect) const override { return std::nullopt; }

private:
    QString StatementToRun(QueryRun& run) const;
    void SendMatch(QueryRun& run, const Recordset& record,
                   const RequestedAttributes& requested) const;
};
