#pragma once

#include "platform/dicom/QueryConnection.h"
#include "worklist/Hl7OrderSource.h"
#include "worklist/OrderStatements.h"
#include "worklist/ResponseBuilder.h"
#include "worklist/WorklistServices.h"

// Answers one worklist C-FIND: builds the selected mode's statement, runs it
// on the HIS and streams one match per order record, then success. Runs on
// the service thread; every failure ends in the activity log and a reopened
// HIS connection, and the peer receives a failure status with its kind.
class QueryHandler {
public:
    explicit QueryHandler(WorklistServices& services);

    void DicomViewer1_QueryRequest(QueryConnection& connection);

    Hl7OrderSource& OrderFiles() { return m_orderFiles; }

private:
    struct Query {
        DicomDataset request;
        DicomDataset requestStep;
        QString modality;
        // The mode when the query began: a click may change the service's
        // mode while the order-file path yields.
        QString mode;
    };

    bool Handle(QueryConnection& connection);
    Query ReadRequest(const QueryConnection& connection) const;
    void EchoRequest(const DicomDataset& request);
    bool RunDatabaseQuery(QueryConnection& connection, const Query& query, QString sql);
    bool StopEarly(QueryConnection& connection);
    void SendMatch(QueryConnection& connection, const Query& query, const Recordset& record);
    qint64 ResultLimit() const;
    void Complete(QueryConnection& connection);
    void Fail(QueryConnection& connection, const QString& description, FailureKind kind);

    WorklistServices& m_services;
    OrderStatements m_statements;
    ResponseBuilder m_responses;
    Hl7OrderSource m_orderFiles;
};
