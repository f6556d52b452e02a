#include <gtest/gtest.h>

#include "Fakes.h"
#include "platform/LogWriter.h"
#include "platform/TextActivityLog.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// What the log writer receives: whole lines as the window shows them.
class LineSink : public LogSink {
public:
    void Write(const std::vector<LogLine>& lines) override {
        for (const LogLine& line : lines) shown << line.Shown();
    }
    QStringList shown;
};

class ActivityLogTest : public ::testing::Test {
protected:
    ActivityLogTest() {
        log.WatchChanges();
        QObject::connect(&log, &TextActivityLog::Written,
                         [this](const QString& piece) { written << piece; });
        QObject::connect(&log, &TextActivityLog::Replacing, [this] { ++replacing; });
    }

    // From now on the lines the log writer gets are in the sink; the test
    // flushes the writer before it reads them.
    std::shared_ptr<LineSink> WatchLines() {
        auto sink = std::make_shared<LineSink>();
        writer.AddSink(sink);
        log.SetLineWriter(&writer);
        return sink;
    }

    FixedClock clock{QDateTime(QDate(2026, 12, 3), QTime(7, 8, 9))};
    LogWriter writer;
    TextActivityLog log{clock};
    QStringList written;
    int replacing = 0;
};

TEST_F(ActivityLogTest, LogPutsTheLineBreakFirstAndStampsTheLine) {
    const QString stamp = TextActivityLog::Stamp(clock.now);
    EXPECT_TRUE(stamp.endsWith(" 07:08:09")) << stamp.toStdString();
    log.Log("started...");
    EXPECT_EQ(log.Text(), kCrLf + stamp + " started...");
    EXPECT_EQ(written, QStringList{kCrLf + stamp + " started..."});
}

TEST_F(ActivityLogTest, AppendLogPutsTheLineBreakLast) {
    log.AppendLog("Cannot Connect. x");
    log.AppendLog("");
    EXPECT_EQ(log.Text(), "Cannot Connect. x" + kCrLf + kCrLf);
}

TEST_F(ActivityLogTest, LogAfterAppendLogLeavesAnEmptyLine) {
    log.AppendLog("starting");
    log.Log("looping");
    EXPECT_EQ(log.Text().split(kCrLf),
              (QStringList{"starting", "", TextActivityLog::Stamp(clock.now) + " looping"}));
}

TEST_F(ActivityLogTest, AppendAddsTheTextAsItStands) {
    log.Append(kCrLf + "PatientName 16 16 : ");
    log.Append("x");
    EXPECT_EQ(log.Text(), kCrLf + "PatientName 16 16 : x");
}

TEST_F(ActivityLogTest, PrependPutsTheLineInFront) {
    log.Replace("CR" + kCrLf);
    log.Prepend("Type mismatch 16 48 unknown");
    EXPECT_EQ(log.Text(), "Type mismatch 16 48 unknown" + kCrLf + "CR" + kCrLf);
    EXPECT_EQ(written.last(), "Type mismatch 16 48 unknown" + kCrLf);
}

TEST_F(ActivityLogTest, ReplaceStartsAFreshText) {
    log.Log("old");
    log.Replace("MR" + kCrLf);
    EXPECT_EQ(log.Text(), "MR" + kCrLf);
    EXPECT_EQ(replacing, 1);
    EXPECT_EQ(written.last(), "MR" + kCrLf);
    log.Replace(QString());
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(replacing, 2);
}

// No two lines run together in the text, whichever way they were written:
// a piece that would continue the line left open begins one of its own.
TEST_F(ActivityLogTest, PiecesNeverContinueTheLineLeftOpen) {
    const QString stamp = TextActivityLog::Stamp(clock.now);
    log.Replace("started...");
    log.AppendLog("update refused: HTTP 404");
    log.Log("Order files in /srv/orders/: cannot be examined.");
    log.AppendLog("starting");
    log.Append(kCrLf + "PatientID 16 32 : ");
    log.AppendLog("sent.. ");
    log.Log("done");
    log.AppendLog("");
    EXPECT_EQ(log.Text().split(kCrLf),
              (QStringList{"started...", "update refused: HTTP 404", "",
                           stamp + " Order files in /srv/orders/: cannot be examined.", "starting",
                           "", "PatientID 16 32 : ", "sent.. ", "", stamp + " done", ""}));
}

// The start of an association still open stays at the head of the text when
// a query starts the log afresh, in the order the associations began, until
// the association ends; the writer gets each line once.
TEST_F(ActivityLogTest, PinnedLinesOutliveEveryReplacementUntilUnpinned) {
    const auto sink = WatchLines();
    const QString stamp = TextActivityLog::Stamp(clock.now);
    const QString first = stamp + " Association 1 from 10.0.0.5: calling AE CT1";
    const QString second = stamp + " Association 2 from 10.0.0.6: calling AE MR2";
    log.Replace("started...");
    log.LogPinned(1, "Association 1 from 10.0.0.5: calling AE CT1");
    log.LogPinned(2, "Association 2 from 10.0.0.6: calling AE MR2");
    log.Log("looping");
    log.Replace("CR" + kCrLf);
    EXPECT_EQ(log.Text(), first + kCrLf + second + kCrLf + "CR" + kCrLf);
    EXPECT_EQ(written.last(), log.Text());
    log.AppendLog("starting");
    EXPECT_TRUE(log.Text().endsWith("CR" + kCrLf + "starting" + kCrLf));

    log.Unpin(1);
    log.Replace("MR" + kCrLf);
    EXPECT_EQ(log.Text(), second + kCrLf + "MR" + kCrLf);
    log.Unpin(2);
    log.Replace(QString());
    EXPECT_EQ(log.Text(), "");
    ASSERT_TRUE(writer.Flush(std::chrono::seconds(10)));
    log.SetLineWriter(nullptr);
    EXPECT_EQ(sink->shown, (QStringList{"started...", first, second, stamp + " looping", "CR",
                                        "starting", "MR"}));
}

TEST_F(ActivityLogTest, WithoutKeepingTheTextEveryPieceIsStillWritten) {
    log.Log("kept");
    log.KeepText(false);
    EXPECT_EQ(log.Text(), "");
    log.Replace("CR" + kCrLf);
    log.Log("looping");
    log.AppendLog("starting");
    log.Prepend("first");
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(written.size(), 5);
    EXPECT_EQ(written.last(), "first" + kCrLf);
    EXPECT_EQ(replacing, 1);
}

}  // namespace

// Log pieces begin with their line break and AppendLog pieces end with one;
// the writer gets complete lines either way, at once, without the empty
// lines the pieces leave between them.
TEST_F(ActivityLogTest, EveryCallGivesTheWriterWholeLines) {
    const auto sink = WatchLines();
    const QString stamp = TextActivityLog::Stamp(clock.now);
    log.Replace("CR" + kCrLf);
    log.Append(kCrLf + "PatientName 16 16 : " + kCrLf + "PatientID 16 32 : ");
    log.AppendLog("starting");
    log.Log("looping");
    log.AppendLog("");
    log.Prepend("Type mismatch 16 48 x");
    log.Log("Query Request error: [SQLite]no such table" + kCrLf + "QODBC: Unable to execute");
    log.SetLineWriter(nullptr);
    log.Log("not for the writer");
    ASSERT_TRUE(writer.Flush(std::chrono::seconds(10)));
    EXPECT_EQ(sink->shown, (QStringList{"CR", "PatientName 16 16 : ", "PatientID 16 32 : ",
                                        "starting", stamp + " looping", "Type mismatch 16 48 x",
                                        stamp + " Query Request error: [SQLite]no such table",
                                        "QODBC: Unable to execute"}));
    // The window's text: the same lines, with the empty ones the pieces leave.
    EXPECT_TRUE(log.Text().startsWith(
        "Type mismatch 16 48 x" + kCrLf + "CR" + kCrLf + kCrLf + "PatientName 16 16 : " + kCrLf +
        "PatientID 16 32 : " + kCrLf + "starting" + kCrLf + kCrLf + stamp + " looping"));
}
