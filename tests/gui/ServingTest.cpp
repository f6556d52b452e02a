// The window while it serves real queries from findscu: mode clicks, queries
// that arrive during start-up, and closing in the middle of a query.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QTabWidget>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/DesktopProgram.h"
#include "e2e/HisDatabase.h"
#include "e2e/OrderFileWriter.h"
#include "gui/WindowHarness.h"
#include "unit/BaseSqlFor.h"

namespace {

// One order file, field 8 the patient ID, as the order-file mode reads it.
const QByteArray kOrderLine = "BWH|||||||H81||DIAZ^ROSA^||19800102|F|||||||ACC81||CHEST PA||20261201";

class ServingTest : public WindowTest {
protected:
    // CORVANTE.txt names a SQLite x-ray worklist with orders P1 and P2, a
    // second worklist holds P7 only, the order folder one file (H81); there
    // is no PELTA.txt.
    void WriteDatabases() {
        ASSERT_TRUE(HisDatabase::Create(HomePath("corvante.db"), HisDatabase::OpenOrders(2)));
        ASSERT_TRUE(HisDatabase::Create(HomePath("other.db"), HisDatabase::OpenOrders(1, 7)));
        WriteConnectionFile("CORVANTE.txt", "corvante.db");
        ASSERT_TRUE(QDir(home.path()).mkpath("orders"));
        ASSERT_TRUE(WriteFinishedOrderFile(HomePath("orders/H81.HL7"), kOrderLine));
        StoreMain("txtHL7Folder", HomePath("orders"));
    }
    QString SqlBox() const { return Find<QPlainTextEdit>("txtSQLStr")->toPlainText(); }
};

TEST_F(ServingTest, ModeClickWhileServingUsesTheNewModesStatementAndDatabase) {
    WriteDatabases();
    StoreMode("optCorvante");
    Open();
    const FindOutcome corvante = QueryWhileServing(port);
    ASSERT_TRUE(corvante.Succeeded()) << corvante.output.right(2000).toStdString();
    EXPECT_EQ(corvante.PatientIds(), (QStringList{"P1", "P2"}));
    EXPECT_EQ(SqlBox(), BaseSqlFor(ConnectionMode::Corvante));
    EXPECT_EQ(Find<QLabel>("lblComm")->text(), "Communicating...Done.");
    // The query's fresh log keeps the start of the association it answers.
    const QStringList lines = LogText().split("\r\n");
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(IsAssociationStart(lines[0])) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "CR");

    // The order-file mode answers from the folder and runs no statement.
    Find<QRadioButton>("optBramwoods")->click();
    // A query worker opens the new mode's connection and says how it went.
    QTRY_VERIFY_WITH_TIMEOUT(
        LogText().endsWith(" Connection mode changed to BRAMWOODS (no HIS connection)."), 5000);
    EXPECT_EQ(store.Stored("PACS", "Main", "optBramwoods"), "True");
    EXPECT_EQ(store.Stored("PACS", "Main", "optCorvante"), "False");
    const FindOutcome orders = QueryWhileServing(port);
    ASSERT_TRUE(orders.Succeeded()) << orders.output.right(2000).toStdString();
    EXPECT_EQ(orders.PatientIds(), QStringList{"H81"});

    // Back to CORVANTE after its file was pointed at another database: the
    // click reads the file again and reopens.
    WriteConnectionFile("CORVANTE.txt", "other.db");
    Find<QRadioButton>("optCorvante")->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        LogText().endsWith(" Connection mode changed to CORVANTE (HIS connection reopened)."), 5000);
    const FindOutcome other = QueryWhileServing(port);
    ASSERT_TRUE(other.Succeeded()) << other.output.right(2000).toStdString();
    EXPECT_EQ(other.PatientIds(), QStringList{"P7"});
    EXPECT_EQ(SqlBox(), BaseSqlFor(ConnectionMode::Corvante));

    // A mode without a readable connection file gets no database at all,
    // never the previous mode's.
    Find<QRadioButton>("optPELTA")->click();
    EXPECT_TRUE(OpenMessageTexts().join(' ').contains("PELTA.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(
        LogText().endsWith(" Connection mode changed to PELTA (no HIS connection)."), 5000);
    const FindOutcome pelta = QueryWhileServing(port);
    EXPECT_TRUE(pelta.FailedUnableToProcess()) << pelta.output.right(2000).toStdString();
    EXPECT_TRUE(pelta.matches.empty());
    EXPECT_TRUE(LogText().contains("Query Request error: The HIS connection is not open"));
}

// A modality that asks again and again while the service starts: the first
// answer it gets is the one it waits for.
class EagerModality {
public:
    explicit EagerModality(int port)
        : m_thread([this, port] {
              while (!m_stop) {
                  FindOutcome outcome = FindScu::Run(port, WorklistKeys());
                  if (outcome.FinalStatus()) {
                      first = std::move(outcome);
                      return;
                  }
              }
          }) {}
    ~EagerModality() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    // The first answer, once there is one.
    FindOutcome Await() {
        m_thread.join();
        return std::move(first);
    }

private:
    FindOutcome first;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The listener starts only once everything a query reads is set, in the
// window and without one: a query that comes in the moment the port opens
// gets the mode's whole statement.
TEST_F(ServingTest, QueryDuringStartUpGetsTheCompleteStatement) {
    WriteDatabases();
    StoreMode("optCorvante");
    {
        EagerModality modality(port);
        Open();
        const FindOutcome early = modality.Await();
        EXPECT_TRUE(early.Succeeded()) << early.output.right(2000).toStdString();
        EXPECT_EQ(early.PatientIds(), (QStringList{"P1", "P2"}));
    }
    QTRY_COMPARE(SqlBox(), BaseSqlFor(ConnectionMode::Corvante));
    Close();

    ServerRuntime headless(store, home.path());
    FakeStatus status;
    headless.Attach(status);
    EagerModality modality(port);
    headless.Load({});
    const FindOutcome early = modality.Await();
    EXPECT_TRUE(early.Succeeded()) << early.output.right(2000).toStdString();
    EXPECT_EQ(early.PatientIds(), (QStringList{"P1", "P2"}));
    EXPECT_EQ(status.ShownSql(), QStringList{BaseSqlFor(ConnectionMode::Corvante)});
    headless.Shutdown();
}

// Closing the window while a query runs: the answer in progress gets its two
// seconds to finish, then the listener stops and the program ends.
TEST_F(ServingTest, ClosingDuringAQueryAnswersItAndEndsCleanly) {
    constexpr int kOrders = 1500;
    ASSERT_TRUE(QDir(home.path()).mkdir("orders"));
    for (int n = 0; n < kOrders; ++n) {
        QFile order(HomePath(QStringLiteral("orders/O%1.HL7").arg(n)));
        ASSERT_TRUE(order.open(QIODevice::WriteOnly));
        order.write(QStringLiteral("BWH|ADT|RAD|||||P%1||DOE^JANE^||19800203|F||||||||A%1||"
                                   "CHEST PA||20261208|||||\n")
                        .arg(n)
                        .toLatin1());
    }
    StoreMode("optBramwoods");
    StoreMain("txtHL7Folder", HomePath("orders"));

    DesktopProgram program(store, home.path(), 0);
    FindScu scu(port, WorklistKeys());
    bool queried = false;
    bool closedMidQuery = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!queried && program.Runtime().Listening()) {
            queried = true;
            scu.Start();
        }
        auto* lblComm = program.Window().findChild<QLabel*>("lblComm");
        if (queried && !closedMidQuery && lblComm->text() == "Communicating...") {
            closedMidQuery = true;
            program.Window().close();
            EXPECT_TRUE(AnswerStopQuestion(program.Window(), true));
        }
    });
    watch.start(1);
    const int status = program.Run();
    watch.stop();

    EXPECT_EQ(status, 0);
    ASSERT_TRUE(closedMidQuery) << "the window was not closed during the query";
    const FindOutcome outcome = scu.Finish();
    ASSERT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.matches.size(), static_cast<size_t>(kOrders));
    EXPECT_FALSE(program.Runtime().Listening());
}

}  // namespace

namespace {

// The longest the window's event loop went without running, measured by a
// timer that asks every 20 ms.
class EventLoopGaps : public QObject {
public:
    EventLoopGaps() {
        m_since.start();
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_longest = std::max(m_longest, m_since.restart());
        });
        m_timer.start(20);
    }
    qint64 LongestMs() const { return m_longest; }
    void Reset() {
        m_longest = 0;
        m_since.restart();
    }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

}  // namespace

// With the HIS locked the whole time: the start-up window counts down, the
// main window switches tabs and repaints while a query waits for the HIS and
// shows that a query is in progress, and closing it ends the program within
// three seconds.
TEST_F(ServingTest, ALockedHisNeverHoldsTheWindowAndClosingEndsAtOnce) {
    WriteDatabases();
    StoreMode("optCorvante");
    store.Set("PACS", "Database", "QueryTimeoutSeconds", "20");
    SqliteLock lock(HomePath("corvante.db"));
    ASSERT_TRUE(lock.Held());

    DesktopProgram program(store, home.path(), 2);
    EventLoopGaps gaps;
    QStringList countdown;
    FindScu scu(port, WorklistKeys());
    bool closed = false;
    qint64 gapWhileWaiting = -1;
    QElapsedTimer closing;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* time = program.Splash().findChild<QLabel*>("lblTime"); time && program.Splash().isVisible())
            if (countdown.isEmpty() || countdown.last() != time->text()) countdown << time->text();
        if (!program.Runtime().Listening() || closed) return;
        if (!scu.Running() && gapWhileWaiting < 0 && countdown.size() > 0 && !closing.isValid()) {
            scu.Start();
            closing.start();
            gaps.Reset();
            return;
        }
        auto* lblComm = program.Window().findChild<QLabel*>("lblComm");
        auto* tabs = program.Window().findChild<QTabWidget*>("SSTab1");
        if (closing.isValid() && closing.elapsed() < 1500) {
            tabs->setCurrentIndex((tabs->currentIndex() + 1) % tabs->count());
            program.Window().repaint();
            return;
        }
        if (closing.isValid() && !closed) {
            gapWhileWaiting = gaps.LongestMs();
            EXPECT_EQ(lblComm->text(), "Communicating...");
            closed = true;
            closing.restart();
            program.Window().close();
            EXPECT_TRUE(AnswerStopQuestion(program.Window(), true));
        }
    });
    watch.start(10);
    const int status = program.Run();
    const qint64 closeToEnd = closing.elapsed();
    watch.stop();

    EXPECT_EQ(status, 0);
    EXPECT_TRUE(closed);
    EXPECT_GE(countdown.size(), 2) << countdown.join(' ').toStdString();
    EXPECT_GE(gapWhileWaiting, 0);
    // A window held by the HIS would stop for the whole 20 s time-out; a
    // loaded machine repainting every tab can still take a few hundred ms.
    EXPECT_LT(gapWhileWaiting, 1000);
    EXPECT_LT(closeToEnd, 3000);
    EXPECT_FALSE(program.Runtime().Listening());
    const FindOutcome outcome = scu.Finish();
    EXPECT_FALSE(outcome.Succeeded());
}
