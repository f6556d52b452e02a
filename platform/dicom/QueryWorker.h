#pragma once

#include "platform/QueryBudget.h"
#include "platform/dicom/QueryConnection.h"

// What answers C-FINDs on one query worker thread. It is made on that thread
// and destroyed there, so what it holds (its own HIS connection) is only
// ever used by that thread.
class QueryWorker {
public:
    virtual ~QueryWorker() = default;
    // Answers one query to its end; its HIS work waits at most the budget.
    virtual void Answer(QueryConnection& query, const QueryBudget& budget) = 0;
    // Opens the worker's HIS connection ahead of the queries (at start, after
    // a mode change); true when it is open.
    virtual bool OpenHis(const QueryBudget& budget) = 0;
};
