#include "worklist/StudyUidLocks.h"

StudyUidLocks::Held::Held(StudyUidLocks& locks, QString key)
    : m_locks(locks), m_key(std::move(key)) {
    {
        std::lock_guard lock(m_locks.m_mutex);
        Entry& entry = m_locks.m_entries[m_key];
        ++entry.users;
        m_order = entry.order;
    }
    m_order->lock();
}

// The entry goes with its last user, so the table holds only orders in use.
StudyUidLocks::Held::~Held() {
    m_order->unlock();
    std::lock_guard lock(m_locks.m_mutex);
    const auto found = m_locks.m_entries.find(m_key);
    if (found != m_locks.m_entries.end() && --found->users == 0) m_locks.m_entries.erase(found);
}
