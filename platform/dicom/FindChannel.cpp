#include "platform/dicom/FindChannel.h"

#include <dcmtk/dcmdata/dcdatset.h>

FindChannel::FindChannel(QString root, DicomDataset request)
    : m_root(std::move(root)), m_request(std::move(request)) {}

void FindChannel::SendPending(DicomDataset match) {
    std::vector<std::shared_ptr<DcmDataset>> spent;
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        spent.swap(m_spent);
        if (m_cancelled || m_final || m_returned) return;
        m_matches.push_back(match.Root());
        wake = m_waiting;
    }
    if (wake) m_ready.notify_one();
}

void FindChannel::SendFinal() {
    {
        std::lock_guard lock(m_mutex);
        if (m_final || m_returned) return;
        m_final = true;
    }
    m_ready.notify_one();
}

void FindChannel::NoteFailure(const QString& why) {
    std::lock_guard lock(m_mutex);
    m_why = why;
}

void FindChannel::HandlerReturned() {
    {
        std::lock_guard lock(m_mutex);
        m_returned = true;
    }
    m_ready.notify_one();
}

FindChannel::Event FindChannel::Next(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    m_waiting = true;
    m_ready.wait_for(lock, wait,
                     [this] { return !m_matches.empty() || m_final || m_returned || m_cancelled; });
    m_waiting = false;
    return Take();
}

void FindChannel::Recycle(std::shared_ptr<DcmDataset> sent) {
    std::lock_guard lock(m_mutex);
    m_spent.push_back(std::move(sent));
}

FindChannel::Event FindChannel::Take() {
    Event event;
    if (!m_matches.empty()) {
        event.kind = Kind::Match;
        event.match = std::move(m_matches.front());
        m_matches.pop_front();
        event.more = !m_matches.empty() || m_final;
    } else if (m_final) {
        event.kind = Kind::Success;
    } else if (m_returned) {
        event.kind = Kind::Failure;
        event.why = m_why.isEmpty() ? QStringLiteral("The query could not be answered.") : m_why;
    }
    return event;
}

void FindChannel::Cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    m_matches.clear();
}

bool FindChannel::Cancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}
