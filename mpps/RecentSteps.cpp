#include "mpps/RecentSteps.h"

#include <algorithm>

void RecentSteps::Put(const RecentStep& step) {
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_steps,
                      [&](const RecentStep& kept) { return kept.instanceUid == step.instanceUid; });
        m_steps.push_front(step);
        if (m_steps.size() > kKept) m_steps.pop_back();
    }
    Changed();
}

void RecentSteps::SetWriteBack(const QString& instanceUid, const QString& result) {
    {
        std::lock_guard lock(m_mutex);
        const auto found = std::find_if(m_steps.begin(), m_steps.end(), [&](const RecentStep& kept) {
            return kept.instanceUid == instanceUid;
        });
        if (found == m_steps.end()) return;
        found->writeBack = result;
    }
    Changed();
}

std::vector<RecentStep> RecentSteps::Latest() const {
    std::lock_guard lock(m_mutex);
    return {m_steps.begin(), m_steps.end()};
}

void RecentSteps::SetObserver(std::function<void()> observer) {
    std::lock_guard lock(m_observerMutex);
    m_observer = std::move(observer);
}

void RecentSteps::Changed() const {
    std::lock_guard lock(m_observerMutex);
    if (m_observer) m_observer();
}
