#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/LogLine.h"
#include "platform/LogSink.h"

// Takes whole lines from any thread and writes them to its sinks on a thread
// of its own, in batches, so no thread of the service waits for a disk or a
// slow terminal. The lines waiting to be written are bounded: when a sink
// falls that far behind, new lines are dropped and one line saying how many
// follows the lines that were kept.
class LogWriter {
public:
    struct Limits {
        // Text waiting to be written, in bytes of its characters.
        size_t maxQueuedBytes = 8 * 1024 * 1024;
        // How long the first line of a batch waits for more.
        std::chrono::milliseconds batchDelay{25};
        // How long the end of the writer waits for a sink that does not
        // take the last lines.
        std::chrono::milliseconds stopWait{3000};
    };

    LogWriter();
    explicit LogWriter(Limits limits);
    // Writes what is queued, waiting at most a few seconds for a sink that
    // does not take it.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // From now on every batch also goes to the sink.
    void AddSink(std::shared_ptr<LogSink> sink);
    bool HasSinks() const;
    // Queues the line; never waits for a sink.
    void Write(LogLine line);
    // Waits until every line queued before the call has been written or the
    // time is up; true when they have been.
    bool Flush(std::chrono::milliseconds timeout);

private:
    struct State;
    static void Run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};
