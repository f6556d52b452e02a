#pragma once

#include <QDateTime>
#include <QString>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

// One performed step as the window lists it.
struct RecentStep {
    QDateTime time;  // UTC, of the last accepted message
    QString instanceUid;
    QString accession;
    QString patient;
    QString station;
    QString state;
    QString writeBack;
};

// The performed steps changed last, newest first, at most kKept of them.
// Any thread puts; the observer is told on the thread that put.
class RecentSteps {
public:
    static constexpr size_t kKept = 100;

    // The step goes to the front, replacing its earlier entry.
    void Put(const RecentStep& step);
    // Only the write-back result of the step's entry, where it still is.
    void SetWriteBack(const QString& instanceUid, const QString& result);
    std::vector<RecentStep> Latest() const;
    // Called after every change, on the thread that made it; once this
    // returns, a previous observer is not called any more.
    void SetObserver(std::function<void()> observer);

private:
    void Changed() const;

    mutable std::mutex m_mutex;
    std::deque<RecentStep> m_steps;
    mutable std::mutex m_observerMutex;
    std::function<void()> m_observer;
};
