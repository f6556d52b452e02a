#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStringList>
#include <condition_variable>
#include <mutex>

#include "platform/LogWriter.h"

namespace {

// Keeps every line; with `blocked` set, the first write waits until
// Release(), as a terminal that stopped reading or a stalled disk would.
class RecordingSink : public LogSink {
public:
    explicit RecordingSink(bool blocked = false) : m_blocked(blocked) {}

    void Write(const std::vector<LogLine>& lines) override {
        std::unique_lock lock(m_mutex);
        ++m_batches;
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_blocked; });
        for (const LogLine& line : lines) m_lines << line.Shown();
    }
    void WaitUntilEntered() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_entered; });
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_blocked = false;
        m_changed.notify_all();
    }
    QStringList Lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    int Batches() {
        std::lock_guard lock(m_mutex);
        return m_batches;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_blocked;
    bool m_entered = false;
    int m_batches = 0;
    QStringList m_lines;
};

LogLine Line(const QString& text) { return LogLine{0, QString(), text}; }

}  // namespace

TEST(LogWriter, EveryLineInOrderInFewWritesToEverySink) {
    LogWriter writer;
    auto first = std::make_shared<RecordingSink>();
    auto second = std::make_shared<RecordingSink>();
    writer.AddSink(first);
    writer.AddSink(second);
    QStringList expected;
    for (int i = 0; i < 2000; ++i) {
        expected << QStringLiteral("line %1").arg(i);
        writer.Write(Line(expected.last()));
    }
    writer.Write(LogLine{0, QStringLiteral("3.12.2026 07:08:09"), QStringLiteral("stamped")});
    expected << QStringLiteral("3.12.2026 07:08:09 stamped");
    ASSERT_TRUE(writer.Flush(std::chrono::seconds(10)));
    EXPECT_EQ(first->Lines(), expected);
    EXPECT_EQ(second->Lines(), expected);
    EXPECT_LT(first->Batches(), 100);
}

// A sink that takes nothing: the writer keeps a bounded amount, never makes
// the caller wait, and once the sink moves again writes what it kept, one
// line naming how many were dropped, and then everything new.
TEST(LogWriter, BlockedSinkCostsDroppedLinesNeverAWaitAndOneLineSaysSo) {
    LogWriter::Limits limits;
    limits.maxQueuedBytes = 64 * 1024;
    limits.batchDelay = std::chrono::milliseconds(1);
    LogWriter writer(limits);
    auto sink = std::make_shared<RecordingSink>(true);
    writer.AddSink(sink);
    writer.Write(Line(QStringLiteral("first")));
    sink->WaitUntilEntered();

    QElapsedTimer timer;
    timer.start();
    const QString text(100, QLatin1Char('x'));
    constexpr int kWritten = 5000;  // about 1.4 MB of lines, far over the bound
    for (int i = 0; i < kWritten; ++i) writer.Write(Line(text + QString::number(i)));
    EXPECT_LT(timer.elapsed(), 2000);
    sink->Release();
    ASSERT_TRUE(writer.Flush(std::chrono::seconds(10)));
    writer.Write(Line(QStringLiteral("after")));
    ASSERT_TRUE(writer.Flush(std::chrono::seconds(10)));

    const QStringList lines = sink->Lines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.first(), "first");
    EXPECT_EQ(lines.last(), "after");
    const qsizetype kept = lines.size() - 3;
    EXPECT_GT(kept, 10);
    EXPECT_LT(kept, 1000);
    // The kept lines are the first ones, in order, without a gap.
    for (qsizetype i = 0; i < kept; ++i) ASSERT_EQ(lines[i + 1], text + QString::number(i));
    EXPECT_EQ(lines[lines.size() - 2],
              QStringLiteral("%1 lines of the activity log were dropped: its output (standard "
                             "output or the log file) did not keep up.")
                  .arg(kWritten - kept));
}

TEST(LogWriter, EndsWithoutWaitingForeverForAStuckSink) {
    auto sink = std::make_shared<RecordingSink>(true);
    QElapsedTimer timer;
    {
        LogWriter::Limits limits;
        limits.stopWait = std::chrono::milliseconds(200);
        LogWriter writer(limits);
        writer.AddSink(sink);
        writer.Write(Line(QStringLiteral("stuck")));
        sink->WaitUntilEntered();
        timer.start();
    }
    EXPECT_LT(timer.elapsed(), 2000);
    sink->Release();  // the left thread ends now, holding the sink
}
