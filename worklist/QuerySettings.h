#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "worklist/QuerySnapshot.h"

// The snapshot the next query takes. Any thread reads it; the window (or the
// settings, without one) changes it, always as a whole.
class QuerySettings {
public:
    QuerySettings() : m_current(std::make_shared<const QuerySnapshot>()) {}

    std::shared_ptr<const QuerySnapshot> Current() const {
        std::lock_guard lock(m_mutex);
        return m_current;
    }
    // A copy of the current snapshot, changed, becomes the current one.
    void Change(const std::function<void(QuerySnapshot&)>& change) {
        std::lock_guard lock(m_mutex);
        auto next = std::make_shared<QuerySnapshot>(*m_current);
        change(*next);
        m_current = std::move(next);
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const QuerySnapshot> m_current;
};
