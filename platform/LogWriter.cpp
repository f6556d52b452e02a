#include "platform/LogWriter.h"

#include <QDateTime>

namespace {

size_t BytesOf(const LogLine& line) {
    return sizeof(LogLine) + static_cast<size_t>(line.stamp.size() + line.text.size()) * 2;
}

LogLine DropLine(std::uint64_t dropped) {
    return {QDateTime::currentMSecsSinceEpoch(), QString(),
            QStringLiteral("%1 lines of the activity log were dropped: its output (standard "
                           "output or the log file) did not keep up.")
                .arg(dropped)};
}

}  // namespace

// Shared with the thread, which may outlive the writer when a sink never
// returns at exit.
struct LogWriter::State {
    explicit State(Limits limits) : limits(limits) {}

    const Limits limits;
    std::mutex mutex;
    std::condition_variable wake;     // the thread: lines arrived, or stop
    std::condition_variable written;  // Flush: a batch was written
    std::vector<LogLine> queue;
    std::vector<std::shared_ptr<LogSink>> sinks;
    size_t queuedBytes = 0;
    std::uint64_t dropped = 0;
    std::uint64_t queuedCount = 0;   // lines taken into the queue so far
    std::uint64_t writtenCount = 0;  // of those, written to the sinks
    bool idle = false;               // the thread waits for a first line
    bool flushWanted = false;
    bool stopping = false;
    bool finished = false;
};

LogWriter::LogWriter() : LogWriter(Limits{}) {}

LogWriter::LogWriter(Limits limits)
    : m_state(std::make_shared<State>(limits)), m_thread([state = m_state] { Run(state); }) {}

LogWriter::~LogWriter() {
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->wake.notify_one();
    const bool finished = m_state->written.wait_for(lock, m_state->limits.stopWait,
                                                    [this] { return m_state->finished; });
    lock.unlock();
    // A sink stuck for good (a terminal that never reads) must not hold up
    // the end of the program; the thread keeps the state alive.
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
}

void LogWriter::AddSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(m_state->mutex);
    m_state->sinks.push_back(std::move(sink));
}

bool LogWriter::HasSinks() const {
    std::lock_guard lock(m_state->mutex);
    return !m_state->sinks.empty();
}

void LogWriter::Write(LogLine line) {
    State& state = *m_state;
    const size_t bytes = BytesOf(line);
    std::lock_guard lock(state.mutex);
    if (state.queuedBytes + bytes > state.limits.maxQueuedBytes || state.dropped > 0) {
        // Once lines are dropped, none is taken until the thread has taken
        // the queue: the drop line then stands exactly where the gap is.
        ++state.dropped;
        return;
    }
    state.queue.push_back(std::move(line));
    state.queuedBytes += bytes;
    ++state.queuedCount;
    if (state.idle) {
        state.idle = false;
        state.wake.notify_one();
    }
}

bool LogWriter::Flush(std::chrono::milliseconds timeout) {
    State& state = *m_state;
    std::unique_lock lock(state.mutex);
    const std::uint64_t target = state.queuedCount;
    state.flushWanted = true;
    state.wake.notify_one();
    return state.written.wait_for(lock, timeout,
                                  [&] { return state.writtenCount >= target || state.finished; });
}

void LogWriter::Run(const std::shared_ptr<State>& shared) {
    State& state = *shared;
    std::vector<LogLine> batch;
    std::unique_lock lock(state.mutex);
    for (;;) {
        state.idle = true;
        state.wake.wait(lock, [&] {
            return !state.queue.empty() || state.dropped > 0 || state.stopping || state.flushWanted;
        });
        state.idle = false;
        // A short wait gathers the lines of a busy moment into one write.
        if (!state.stopping && !state.flushWanted)
            state.wake.wait_for(lock, state.limits.batchDelay, [&] {
                return state.stopping || state.flushWanted ||
                       state.queuedBytes >= state.limits.maxQueuedBytes / 2;
            });
        state.flushWanted = false;
        batch.swap(state.queue);
        state.queuedBytes = 0;
        const std::uint64_t dropped = std::exchange(state.dropped, 0);
        const std::uint64_t count = state.queuedCount;
        const auto sinks = state.sinks;
        const bool last = state.stopping;
        lock.unlock();
        if (dropped > 0) batch.push_back(DropLine(dropped));
        if (!batch.empty())
            for (const auto& sink : sinks) sink->Write(batch);
        batch.clear();
        lock.lock();
        state.writtenCount = count;
        state.written.notify_all();
        if (last && state.queue.empty()) break;
    }
    state.finished = true;
    state.written.notify_all();
}
