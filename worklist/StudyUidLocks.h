#pragma once

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>

// One lock per order (mode and request number) for the Study UID step, so
// that two modalities asking at once for the same order look it up and write
// it back one after the other: both are handed the UID the first one stored,
// and only one UPDATE is sent. The locks hold within this process only.
class StudyUidLocks {
public:
    class Held {
    public:
        Held(StudyUidLocks& locks, QString key);
        ~Held();
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        StudyUidLocks& m_locks;
        QString m_key;
        std::shared_ptr<std::mutex> m_order;
    };

private:
    struct Entry {
        std::shared_ptr<std::mutex> order = std::make_shared<std::mutex>();
        int users = 0;
    };
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};
