#include "worklist/SourceFor.h"

#include "worklist/bramwoods/OrderFileSource.h"
#include "worklist/corvante/CorvanteSource.h"
#include "worklist/orvelline/OrvellineSource.h"
#include "worklist/pelta/PeltaSource.h"
#include "worklist/talvek/TalvekSource.h"

namespace {

// No mode selected: every query is answered with success and no matches.
class NoSource : public WorklistSource {
public:
    QString Name() const override { return QString(); }
    QString ConnectionFile() const override { return QString(); }
    QString BaseStatement(SqlDialect) const override { return QString(); }
    QString Statement(const StatementInput&) const override { return QString(); }
    void FillMatch(MatchFill&) const override {}
    QString StudyUid(const QueryRun& run, const Recordset&) const override {
        return run.resources.uids.NewUid();
    }
    bool Answer(QueryRun&) const override { return true; }
    ListingPlan Listing(const QString&, SqlDialect) const override { return {}; }
    QString ListingLine(const Recordset&) const override { return QString(); }
    std::optional<QString> DoneExamsStatement(SqlDialect) const override { return std::nullopt; }
};

}  // namespace

const WorklistSource& SourceFor(ConnectionMode mode) {
    static const TalvekSource talvek;
    static const PeltaSource pelta;
    static const CorvanteSource corvante;
    static const OrderFileSource orderFiles;
    static const OrvellineSource orvelline;
    static const NoSource none;
    switch (mode) {
        case ConnectionMode::Talvek:
            return talvek;
        case ConnectionMode::Pelta:
            return pelta;
        case ConnectionMode::Corvante:
            return corvante;
        case ConnectionMode::Bramwoods:
            return orderFiles;
        case ConnectionMode::Orvelline:
            return orvelline;
        case ConnectionMode::None:
            break;
    }
    return none;
}
