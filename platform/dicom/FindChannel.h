#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dicom/QueryConnection.h"

// One C-FIND in flight: a query worker's handler pushes matches and the
// final status; the association's worker thread takes them and sends them.
//
// The queue between them is bounded, so a peer that reads slowly or not at
// all holds a few hundred matches, not the whole answer. The handler then
// waits for room on its own thread, and abandons the answer when the
// association has taken nothing for the DIMSE time-out.
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
    struct Limits {
        size_t maxQueued = 256;
        // The DIMSE time-out: the longest the peer may take no match.
        std::chrono::milliseconds stallTimeout{std::chrono::seconds(60)};
    };

    FindChannel(QString root, DicomDataset request);
    FindChannel(QString root, DicomDataset request, Limits limits);

    // When the request arrived: the query's budget counts from here.
    std::chrono::steady_clock::time_point Arrived() const { return m_arrived; }

    // The query worker's thread.
    QString QueryRoot() const override { return m_root; }
    DicomDataset Request() const override { return m_request; }
    void SendPending(MatchDataset match) override;
    void SendFinal() override;
    void NoteFailure(FailureKind kind) override;
    bool Abandoned() const override { return m_abandoned.load(std::memory_order_relaxed); }
    // The handler has returned; without a final status this ends the C-FIND
    // with a failure. Also called by whoever gives up on the handler (a stop,
    // a deadline) with its failure noted first; later sends fall away.
    void HandlerReturned();
    // The failure status, with its kind, ends the C-FIND now unless it ended
    // already; the handler's later sends fall away.
    void EndWithFailure(FailureKind kind);

    // Association thread: the next thing to send, or Idle after the wait.
    Event Next(std::chrono::milliseconds wait);
    // Association thread: a sent match, handed back so that its memory is
    // freed by the thread that allocated it (cheaper than freeing it across
    // threads, which contends for the allocator).
    void Recycle(MatchDataset sent);
    // The peer cancelled or went away: later sends fall away.
    void Cancel();
    bool Cancelled() const;

private:
    Event Take();  // with the mutex held
    void WaitForRoom(std::unique_lock<std::mutex>& lock);
    bool Ended() const { return m_cancelled || m_stalled || m_final || m_returned; }

    const QString m_root;
    const DicomDataset m_request;
    const Limits m_limits;
    const std::chrono::steady_clock::time_point m_arrived = std::chrono::steady_clock::now();
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_room;
    std::deque<MatchDataset> m_matches;
    std::vector<MatchDataset> m_spent;
    std::uint64_t m_taken = 0;  // matches the association has taken so far
    bool m_waiting = false;     // the association sleeps on m_ready
    bool m_roomWanted = false;  // the handler sleeps on m_room
    bool m_final = false;
    bool m_returned = false;
    bool m_cancelled = false;
    bool m_stalled = false;  // the peer took nothing for the stall time-out
    std::atomic<bool> m_abandoned{false};
    FailureKind m_failure = FailureKind::Unspecified;
};
