// A HIS that fails while the server runs: every fault ends the query with a
// failure status and a clear line in the activity log (never an empty or
// stale worklist), and the next query works again once the cause is gone.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cstdio>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

constexpr int kTimeoutSeconds = 3;

bool WriteText(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size();
}

// The order table behind a view that raises an error (integer overflow) in
// the row of order failAt, as a HIS does when a value cannot be read.
QString FailingView(int failAt) {
    return QStringLiteral(
               "DROP VIEW IF EXISTS xray_worklist; CREATE VIEW xray_worklist AS SELECT "
               "worklistid, CASE WHEN worklistid = %1 THEN abs(-9223372036854775807 - 1) ELSE "
               "created END AS created, patientid, last_name, first_name, middle_name, "
               "birthdate, gender, is_done, is_valid FROM orders;")
        .arg(failAt);
}

class HisFault : public testing::Test {
protected:
    // Expects a failure status with an Error Comment and the log line.
    void ExpectFailure(const char* what, const QString& logLine) {
        SCOPED_TRACE(what);
        const int before = m_server->ActivityLog().count(logLine);
        const FindOutcome outcome = FindScu::Run(m_server->Port(), WorklistKeys());
        ASSERT_TRUE(outcome.finished) << outcome.output.right(2000).toStdString();
        EXPECT_TRUE(outcome.matches.empty());
        EXPECT_TRUE(outcome.FailedUnableToProcess()) << outcome.output.right(2000).toStdString();
        EXPECT_FALSE(outcome.ErrorComment().isEmpty());
        EXPECT_TRUE(WaitForMore(logLine, before)) << m_server->ActivityLog().toStdString();
    }
    void ExpectOrders(const char* what, const QStringList& ids) {
        SCOPED_TRACE(what);
        const FindOutcome outcome = FindScu::Run(m_server->Port(), WorklistKeys());
        EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString()
                                         << m_server->ActivityLog().right(2000).toStdString();
        EXPECT_EQ(outcome.PatientIds(), ids);
    }
    bool WaitForMore(const QString& text, int before) const {
        QElapsedTimer timer;
        timer.start();
        while (m_server->ActivityLog().count(text) <= before) {
            if (timer.elapsed() > kLogWaitMs) return false;
            QThread::msleep(20);
        }
        return true;
    }

    std::unique_ptr<ServerProcess> m_server;
};

}  // namespace

// StepAPI=1 makes SQLite's driver fetch row by row, as FreeTDS and MariaDB
// do, so the error is met while the matches are already being sent.
TEST_F(HisFault, AFetchErrorEndsTheQueryWithAFailureAfterTheRowsBeforeIt) {
    ServerSettings settings;
    settings.connectionOptions = QStringLiteral(";StepAPI=1");
    m_server = std::make_unique<ServerProcess>(settings);
    ASSERT_TRUE(HisDatabase::Create(m_server->HisFile(), HisDatabase::OpenOrders(5)));
    ASSERT_TRUE(HisDatabase::Run(m_server->HisFile(),
                                 "ALTER TABLE xray_worklist RENAME TO orders;" + FailingView(3)));
    ASSERT_TRUE(m_server->Start());

    const FindOutcome third = FindScu::Run(m_server->Port(), WorklistKeys());
    ASSERT_TRUE(third.finished);
    EXPECT_EQ(third.PatientIds(), QStringList({"P1", "P2"}));
    EXPECT_TRUE(third.FailedUnableToProcess()) << third.output.right(2000).toStdString();
    EXPECT_EQ(third.ErrorComment(), QStringLiteral("HIS query failed"));

    ASSERT_TRUE(HisDatabase::Run(m_server->HisFile(), FailingView(1)));
    const FindOutcome first = FindScu::Run(m_server->Port(), WorklistKeys());
    EXPECT_TRUE(first.matches.empty());
    EXPECT_TRUE(first.FailedUnableToProcess()) << first.output.right(2000).toStdString();
    EXPECT_TRUE(m_server->Stop());
    EXPECT_EQ(m_server->ActivityLog().count("Query Request error: [SQLite]integer overflow"), 2)
        << m_server->ActivityLog().toStdString();
}

TEST_F(HisFault, AReplacedDatabaseFileIsServedAtTheNextQuery) {
    m_server = std::make_unique<ServerProcess>();
    ASSERT_TRUE(HisDatabase::Create(m_server->HisFile(), HisDatabase::OpenOrders(2)));
    ASSERT_TRUE(m_server->Start());
    ExpectOrders("the file at start", {"P1", "P2"});

    // An export job writes a new file and renames it over the old one.
    const QString next = m_server->HomeFile(QStringLiteral("his.next"));
    ASSERT_TRUE(HisDatabase::Create(next, HisDatabase::OpenOrders(3, 7)));
    ASSERT_EQ(::rename(QFile::encodeName(next).constData(),
                       QFile::encodeName(m_server->HisFile()).constData()),
              0);
    ExpectOrders("the new file", {"P7", "P8", "P9"});
    EXPECT_TRUE(m_server->Stop());
}

TEST_F(HisFault, EveryFaultIsReportedAndTheNextQueryWorksOnceItIsGone) {
    ServerSettings settings;
    settings.noConnectionFiles = true;
    settings.queryTimeoutSeconds = kTimeoutSeconds;
    m_server = std::make_unique<ServerProcess>(settings);
    const QString his = m_server->HisFile();
    const QString connectionFile = m_server->HomeFile(QStringLiteral("CORVANTE.txt"));
    ASSERT_TRUE(HisDatabase::Create(his, HisDatabase::OpenOrders(3)));
    // Unreadable at start: a folder where the file should be.
    ASSERT_TRUE(QDir().mkpath(connectionFile));
    ASSERT_TRUE(m_server->Start());
    const QStringList all{"P1", "P2", "P3"};

    ExpectFailure("connection-string file unreadable", connectionFile + ": ");
    ASSERT_TRUE(QDir().rmdir(connectionFile));
    ASSERT_TRUE(WriteText(connectionFile, "Driver=NoSuchOdbcDriver;Database=" + his + "\n"));
    ExpectFailure("ODBC driver missing", QStringLiteral("Cannot Connect. "));
    ASSERT_TRUE(WriteText(connectionFile, "Driver=SQLite3;Database=" + his + "\n"));
    ExpectOrders("connection-string file fixed", all);

    ASSERT_TRUE(HisDatabase::Run(his, "ALTER TABLE xray_worklist RENAME TO kept;"));
    ExpectFailure("table dropped", "Query Request error: [SQLite]no such table: xray_worklist");
    ASSERT_TRUE(HisDatabase::Run(his, "ALTER TABLE kept RENAME TO xray_worklist;"));
    ExpectOrders("table back", all);

    const QString aside = m_server->HomeFile(QStringLiteral("his.aside"));
    ASSERT_TRUE(QFile::rename(his, aside));
    ExpectFailure("database file removed",
                  "Query Request error: The HIS database file " + his + " was moved or deleted.");
    EXPECT_FALSE(QFile::exists(his));  // no empty database made in its place
    ASSERT_TRUE(QFile::rename(aside, his));
    ExpectOrders("database file back", all);

    {
        SqliteLock lock(his);
        ASSERT_TRUE(lock.Held());
        const int started = m_server->ActivityLog().count("CR\n");
        QElapsedTimer timer;
        timer.start();
        FindScu locked(m_server->Port(), WorklistKeys());
        locked.Start();
        ASSERT_TRUE(WaitForMore("CR\n", started));
        // Another modality is answered while the query waits on the lock.
        EXPECT_TRUE(EchoSucceeds(m_server->Port()));
        const qint64 echoedAt = timer.elapsed();
        const FindOutcome outcome = locked.Finish();
        EXPECT_LT(echoedAt, timer.elapsed());
        EXPECT_GE(timer.elapsed(), kTimeoutSeconds * 1000 - 250);
        // The time-out is the whole query's: preparing and running the
        // statement share it, and the connection is kept, so no reopen waits.
        EXPECT_LT(timer.elapsed(), kTimeoutSeconds * 1000 + 2000);
        EXPECT_TRUE(outcome.FailedUnableToProcess()) << outcome.output.right(2000).toStdString();
        EXPECT_TRUE(WaitForMore(QStringLiteral("The HIS did not answer within the time-out of %1 s")
                                    .arg(kTimeoutSeconds),
                                0));
    }
    ExpectOrders("lock released", all);
    EXPECT_TRUE(m_server->Stop());
}
