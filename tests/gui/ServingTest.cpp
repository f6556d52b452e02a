// The window while it serves real queries from findscu: mode clicks, queries
// that arrive during start-up, and closing in the middle of a query.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "app/DesktopProgram.h"
#include "app/StoredSwitches.h"
#include "e2e/HisDatabase.h"
#include "gui/WindowHarness.h"
#include "worklist/BaseSql.h"
#include "worklist/ServiceState.h"

namespace {

const char* const kWorksheet =
    "CREATE TABLE worksheet (qnumber TEXT, patient_id TEXT, patient_fname TEXT, "
    "patient_mname TEXT, patient_lname TEXT, gender TEXT, birthdate TEXT, doctor_id TEXT, "
    "doctor_lname TEXT, doctor_fname TEXT, doctor_mname TEXT, modality TEXT, item_code TEXT, "
    "study_desc TEXT, Result TEXT, Status INTEGER, TimeStamp TEXT, branch_code TEXT, "
    "remarks TEXT);"
    "INSERT INTO worksheet VALUES ('Q71', 'W71', 'ANA', NULL, 'SANTOS', 'F', '1980-01-02', "
    "'D1', 'REYES', 'JOSE', '', 'CR', 'X1', 'CHEST PA', '', 0, '2026-12-01 08:00:00', 'MAIN', '');"
    "INSERT INTO worksheet VALUES ('Q72', 'W72', 'LUIS', NULL, 'CRUZ', 'M', '1970-05-06', "
    "'D1', 'REYES', 'JOSE', '', 'CR', 'X2', 'KNEE', '', 0, '2026-12-01 07:00:00', 'MAIN', '');";

class ServingTest : public WindowTest {
protected:
    // CORVANTE.txt names a SQLite x-ray worklist with orders P1 and P2,
    // ORVELLINE.txt a worksheet with W71 and W72; there is no PELTA.txt.
    void WriteDatabases() {
        ASSERT_TRUE(HisDatabase::Create(HomePath("corvante.db"), HisDatabase::OpenOrders(2)));
        ASSERT_TRUE(HisDatabase::Run(HomePath("orvelline.db"), kWorksheet));
        WriteConnectionFile("CORVANTE.txt", "corvante.db");
        WriteConnectionFile("ORVELLINE.txt", "orvelline.db");
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
    EXPECT_EQ(SqlBox(), BaseSqlFor(Modes::Corvante));
    EXPECT_EQ(Find<QLabel>("lblComm")->text(), "Communicating...Done.");
    EXPECT_EQ(LogText().split("\r\n").first(), "CR");

    Find<QRadioButton>("optOrvelline")->click();
    EXPECT_TRUE(
        LogText().endsWith(" Connection mode changed to ORVELLINE (HIS connection reopened)."))
        << LogText().toStdString();
    EXPECT_EQ(store.Stored("PACS", "Main", "optOrvelline"), "True");
    EXPECT_EQ(store.Stored("PACS", "Main", "optCorvante"), "False");
    const FindOutcome orvelline = QueryWhileServing(port);
    ASSERT_TRUE(orvelline.Succeeded()) << orvelline.output.right(2000).toStdString();
    EXPECT_EQ(orvelline.PatientIds(), (QStringList{"W71", "W72"}));
    EXPECT_TRUE(SqlBox().startsWith(BaseSqlFor(Modes::Orvelline))) << SqlBox().toStdString();

    // A mode without a readable connection file gets no database at all,
    // never the previous mode's.
    Find<QRadioButton>("optPELTA")->click();
    EXPECT_TRUE(OpenMessageTexts().join(' ').contains("PELTA.txt"));
    EXPECT_TRUE(LogText().endsWith(" Connection mode changed to PELTA (no HIS connection)."));
    const FindOutcome pelta = QueryWhileServing(port);
    EXPECT_TRUE(pelta.FailedUnableToProcess()) << pelta.output.right(2000).toStdString();
    EXPECT_TRUE(pelta.matches.empty());
    EXPECT_TRUE(LogText().contains("Query Request error: The HIS connection is not open"));
}

// The listener starts only once everything a query reads is set, in the
// window and without one: a query that comes in at once, while the load is
// still yielding, gets the mode's whole statement.
TEST_F(ServingTest, QueryDuringStartUpGetsTheCompleteStatement) {
    WriteDatabases();
    StoreMode("optCorvante");
    bool listening = false;
    FindOutcome early;
    QTimer::singleShot(0, [&] {
        listening = runtime->Listening();
        early = QueryWhileServing(port);
    });
    Open();
    ASSERT_TRUE(listening) << "the query did not arrive while the load was yielding";
    EXPECT_TRUE(early.Succeeded()) << early.output.right(2000).toStdString();
    EXPECT_EQ(early.PatientIds(), (QStringList{"P1", "P2"}));
    EXPECT_EQ(SqlBox(), BaseSqlFor(Modes::Corvante));
    Close();

    ServerRuntime headless(store, home.path());
    StoredSwitches switches(store, headless.Loaded());
    FakeStatus status;
    headless.Attach(switches, status);
    listening = false;
    QTimer::singleShot(0, [&] {
        listening = headless.Listening();
        early = QueryWhileServing(port);
    });
    headless.Load({});
    ASSERT_TRUE(listening);
    EXPECT_TRUE(early.Succeeded()) << early.output.right(2000).toStdString();
    EXPECT_EQ(status.shownSql, QStringList{BaseSqlFor(Modes::Corvante)});
    headless.Shutdown();
}

// Closing the window while a query is paused in one of its yields: the query
// is answered to its end, then the listener stops and the program ends.
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
    // Timers fire only when the service thread processes events, which during
    // a query happens in the order-file path's yields.
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!queried && program.Runtime().Listening()) {
            queried = true;
            scu.Start();
        }
        auto* lblComm = program.Window().findChild<QLabel*>("lblComm");
        if (queried && !closedMidQuery && lblComm->text() == "Communicating...") {
            closedMidQuery = true;
            program.Window().close();
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
