#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dicom/QueryConnection.h"

class DcmDataset;

// One C-FIND in flight: the service thread's handler pushes matches and the
// final status; the association's worker thread takes them and sends them.
class FindChannel : public QueryConnection {
public:
    enum class Kind { Match, Success, Failure, Idle };
    struct Event {
        Kind kind = Kind::Idle;
        std::shared_ptr<DcmDataset> match;
        QString why;
        // More is queued behind this match: the sender may hold its output.
        bool more = false;
    };

    FindChannel(QString root, DicomDataset request);

    // Service thread.
    QString QueryRoot() const override { return m_root; }
    DicomDataset Request() const override { return m_request; }
    void SendPending(DicomDataset match) override;
    void SendFinal() override;
    void NoteFailure(const QString& why) override;
    // The handler has returned; without a final status this ends the C-FIND
    // with a failure.
    void HandlerReturned();

    // Worker thread: the next thing to send, or Idle after the wait.
    Event Next(std::chrono::milliseconds wait);
    // Worker thread: a sent match, handed back so that its memory is freed
    // by the thread that allocated it (cheaper than freeing it across
    // threads, which contends for the allocator).
    void Recycle(std::shared_ptr<DcmDataset> sent);
    // The peer cancelled or went away: later sends fall away.
    void Cancel();
    bool Cancelled() const;

private:
    Event Take();  // with the mutex held

    const QString m_root;
    const DicomDataset m_request;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::shared_ptr<DcmDataset>> m_matches;
    std::vector<std::shared_ptr<DcmDataset>> m_spent;
    bool m_waiting = false;  // the worker sleeps on m_ready
    bool m_final = false;
    bool m_returned = false;
    bool m_cancelled = false;
    QString m_why;
};
