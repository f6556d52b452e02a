#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dicom/QueryConnection.h"

// One C-FIND in flight: the service thread's handler pushes matches and the
// final status; the association's worker thread takes them and sends them.
//
// The queue between them is bounded, so a peer that reads slowly or not at
// all holds a few hundred matches, not the whole answer. The handler then
// waits for room, yielding to other events meanwhile (it runs on the single
// service thread, which must go on answering the other modalities), and
// abandons the answer when the worker has taken nothing for the DIMSE
// time-out.
class FindChannel : public QueryConnection {
public:
    enum class Kind { Match, Success, Failure, Idle };
    struct Event {
        Kind kind = Kind::Idle;
        MatchDataset match;
        QString why;  // the Error Comment of a failure
        // More is queued behind this match: the sender may hold its output.
        bool more = false;
    };
    // The association layer's DIMSE time-out.
    static constexpr std::chrono::seconds kDimseTimeout{60};
    struct Limits {
        size_t maxQueued = 256;
        std::chrono::milliseconds stallTimeout = kDimseTimeout;
    };
    // What the waiting handler runs between two looks for room.
    using Yield = std::function<void()>;

    FindChannel(QString root, DicomDataset request);
    FindChannel(QString root, DicomDataset request, Limits limits, Yield yield);

    // Service thread.
    QString QueryRoot() const override { return m_root; }
    DicomDataset Request() const override { return m_request; }
    void SendPending(MatchDataset match) override;
    void SendFinal() override;
    void NoteFailure(FailureKind kind) override;
    bool Abandoned() const override { return m_abandoned.load(std::memory_order_relaxed); }
    // The handler has returned; without a final status this ends the C-FIND
    // with a failure.
    void HandlerReturned();

    // Worker thread: the next thing to send, or Idle after the wait.
    Event Next(std::chrono::milliseconds wait);
    // Worker thread: a sent match, handed back so that its memory is freed
    // by the thread that allocated it (cheaper than freeing it across
    // threads, which contends for the allocator).
    void Recycle(MatchDataset sent);
    // The peer cancelled or went away: later sends fall away.
    void Cancel();
    bool Cancelled() const;

private:
    Event Take();  // with the mutex held
    void WaitForRoom();
    bool Ended() const { return m_cancelled || m_stalled || m_final || m_returned; }

    const QString m_root;
    const DicomDataset m_request;
    const Limits m_limits;
    const Yield m_yield;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_room;
    std::deque<MatchDataset> m_matches;
    std::vector<MatchDataset> m_spent;
    std::uint64_t m_taken = 0;  // matches the worker has taken so far
    bool m_waiting = false;     // the worker sleeps on m_ready
    bool m_roomWanted = false;  // the handler sleeps on m_room
    bool m_final = false;
    bool m_returned = false;
    bool m_cancelled = false;
    bool m_stalled = false;  // the peer took nothing for the stall time-out
    std::atomic<bool> m_abandoned{false};
    FailureKind m_failure = FailureKind::Unspecified;
};
