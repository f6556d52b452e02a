#include "platform/dicom/FindChannel.h"

FindChannel::FindChannel(QString root, DicomDataset request)
    : FindChannel(std::move(root), std::move(request), Limits{}) {}

FindChannel::FindChannel(QString root, DicomDataset request, Limits limits)
    : m_root(std::move(root)), m_request(std::move(request)), m_limits(limits) {}

void FindChannel::SendPending(MatchDataset match) {
    std::vector<MatchDataset> spent;
    bool wake = false;
    {
        std::unique_lock lock(m_mutex);
        spent.swap(m_spent);
        if (m_matches.size() >= m_limits.maxQueued) WaitForRoom(lock);
        if (Ended()) return;
        m_matches.push_back(std::move(match));
        wake = m_waiting;
    }
    if (wake) m_ready.notify_one();
}

// Waits until the association has sent half of the queue, so the handler
// goes back to building matches in long runs rather than one at a time.
void FindChannel::WaitForRoom(std::unique_lock<std::mutex>& lock) {
    const size_t resumeAt = m_limits.maxQueued / 2;
    auto progressAt = std::chrono::steady_clock::now();
    std::uint64_t taken = m_taken;
    m_roomWanted = true;
    while (m_matches.size() > resumeAt && !Ended()) {
        const auto now = std::chrono::steady_clock::now();
        if (m_taken != taken) {
            taken = m_taken;
            progressAt = now;
        } else if (now - progressAt >= m_limits.stallTimeout) {
            m_stalled = true;
            m_abandoned = true;
            m_matches.clear();
            break;
        }
        // Woken when the queue is half empty; progress short of that is
        // looked at when the stall time would be up.
        m_room.wait_until(lock, progressAt + m_limits.stallTimeout,
                          [&] { return m_matches.size() <= resumeAt || Ended(); });
    }
    m_roomWanted = false;
}

void FindChannel::SendFinal() {
    {
        std::lock_guard lock(m_mutex);
        // Matches were dropped: the peer must not read the answer as whole.
        if (m_final || m_returned || m_cancelled || m_stalled) return;
        m_final = true;
    }
    m_ready.notify_one();
}

void FindChannel::NoteFailure(FailureKind kind) {
    std::lock_guard lock(m_mutex);
    if (!m_returned) m_failure = kind;
}

void FindChannel::HandlerReturned() {
    {
        std::lock_guard lock(m_mutex);
        m_returned = true;
    }
    m_ready.notify_one();
    m_room.notify_one();
}

void FindChannel::EndWithFailure(FailureKind kind) {
    {
        std::lock_guard lock(m_mutex);
        if (m_final || m_returned) return;
        m_failure = kind;
        m_returned = true;
        m_abandoned = true;
    }
    m_ready.notify_one();
    m_room.notify_one();
}

FindChannel::Event FindChannel::Next(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    m_waiting = true;
    m_ready.wait_for(lock, wait,
                     [this] { return !m_matches.empty() || m_final || m_returned || m_cancelled; });
    m_waiting = false;
    return Take();
}

void FindChannel::Recycle(MatchDataset sent) {
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
        ++m_taken;
        if (m_roomWanted && m_matches.size() <= m_limits.maxQueued / 2) m_room.notify_one();
    } else if (m_final) {
        event.kind = Kind::Success;
    } else if (m_returned) {
        event.kind = Kind::Failure;
        event.why = ErrorCommentFor(m_failure);
    }
    return event;
}

void FindChannel::Cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_abandoned = true;
        m_matches.clear();
    }
    m_room.notify_one();
}

bool FindChannel::Cancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}
