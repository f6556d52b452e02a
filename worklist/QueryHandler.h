#pragma once

#include <memory>

#include "platform/ActivityLog.h"
#include "platform/dicom/QueryWorker.h"
#include "platform/his/HisConnection.h"
#include "worklist/QuerySettings.h"
#include "worklist/WorklistSource.h"

// Answers worklist C-FINDs on one query worker, with the worker's own HIS
// connection: each query takes the operator's settings once, as it starts,
// and its mode's source builds the statement, runs it and streams one match
// per order, then success. Every failure ends in the activity log, and the
// peer receives a failure status with its kind; only a failure of the HIS
// reopens the connection.
class QueryHandler : public QueryWorker {
public:
    // What every worker shares with the others.
    struct Shared {
        ActivityLog& log;
        const QuerySettings& settings;
        UidGenerator& uids;
        const Clock& clock;
        StatusView& status;
        StudyUidLocks& studyUidLocks;
        OrderFileCache& orderFiles;
    };

    QueryHandler(std::unique_ptr<HisConnection> his, const Shared& shared);

    void Answer(QueryConnection& connection, const QueryBudget& budget) override {
        DicomViewer1_QueryRequest(connection, budget);
    }
    void DicomViewer1_QueryRequest(QueryConnection& connection, const QueryBudget& budget);
    // Opens the HIS connection of the current mode (at start and after a mode
    // change) without waiting for a query; true when it is open.
    bool OpenHis(const QueryBudget& budget) override;

private:
    bool Handle(QueryConnection& connection, const QuerySnapshot& settings);
    RequestKeys ReadRequest(const QueryConnection& connection) const;
    void EchoRequest(const DicomDataset& request);
    void FollowConnectionString(const QuerySnapshot& settings);
    void Complete(QueryConnection& connection);
    void Fail(QueryConnection& connection, const QString& description, FailureKind kind);

    std::unique_ptr<HisConnection> m_his;
    Shared m_shared;
    QueryResources m_resources;
    quint64 m_followed = 0;  // the connection generation the HIS connection follows
};
