#include <gtest/gtest.h>

#include "Fakes.h"
#include "platform/TextActivityLog.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

class ActivityLogTest : public ::testing::Test {
protected:
    ActivityLogTest() {
        QObject::connect(&log, &TextActivityLog::Written,
                         [this](const QString& piece) { written << piece; });
        QObject::connect(&log, &TextActivityLog::Replacing, [this] { ++replacing; });
    }

    FixedClock clock{QDateTime(QDate(2026, 12, 3), QTime(7, 8, 9))};
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
