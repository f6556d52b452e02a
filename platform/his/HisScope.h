#pragma once

#include "platform/QueryBudget.h"
#include "platform/his/HisConnection.h"

// The HIS connection serves one piece of work (a query, a write-back, a
// journal entry) from BeginQuery to the end of the scope.
class HisScope {
public:
    HisScope(HisConnection& his, const QueryBudget& budget) : m_his(his) { m_his.BeginQuery(budget); }
    ~HisScope() { m_his.EndQuery(); }
    HisScope(const HisScope&) = delete;
    HisScope& operator=(const HisScope&) = delete;

private:
    HisConnection& m_his;
};
