// The database test console of the "&Test" page over SQLite through ODBC,
// and "Return this Query" answering a modality with the box's statement.

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "e2e/HisDatabase.h"
#include "gui/WindowHarness.h"
#include "unit/BaseSqlFor.h"

namespace {

const QString kRecordColumns = QStringLiteral(
    "select created as TranD, worklistid as RequestNum, patientid as HN, last_name as MLN, "
    "first_name as MFN, birthdate as MASBirthDate, gender as MASS from xray_worklist ");

class SqlConsoleTest : public WindowTest {
protected:
    // Orders P1 to P3 of the CORVANTE worklist; P2 has no names at all, so
    // its name field is the carets alone.
    SqlConsoleTest() {
        QList<HisOrder> orders = HisDatabase::OpenOrders(3);
        orders[1].lastName.reset();
        orders[1].firstName.reset();
        EXPECT_TRUE(HisDatabase::Create(HomePath("corvante.db"), orders));
        WriteConnectionFile("CORVANTE.txt", "corvante.db");
        StoreMode("optCorvante");
    }

    // Runs the statement and waits until "&Test" is back.
    void Run(const QString& sql) {
        Find<QPlainTextEdit>("txtSQLStr")->setPlainText(sql);
        auto* button = Find<QPushButton>("cmdRunSQL");
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 5000);
    }
    QString Result() const { return Find<QPlainTextEdit>("txtSQLResult")->toPlainText(); }
    QString LastLogLine() const { return LogText().split("\r\n").last(); }
};

TEST_F(SqlConsoleTest, AppendsOneLinePerRecordAtEveryRun) {
    Open();
    Find<QPushButton>("cmdQueryStr")->click();
    EXPECT_EQ(Find<QPlainTextEdit>("txtSQLStr")->toPlainText(), BaseSqlFor(ConnectionMode::Corvante));

    const QString lines =
        "\n   2024-05-02 08:01:00 , 1 , P1 , LAST1^FIRST1^^ , 1970-01-01 , M"
        "\n   2024-05-03 08:02:00 , 2 , P2 , ^^^ , 1970-01-01 , F"
        "\n   2024-05-04 08:03:00 , 3 , P3 , LAST3^FIRST3^^ , 1970-01-01 , M";
    Run(kRecordColumns + "order by worklistid");
    EXPECT_EQ(Result(), lines);
    Run(kRecordColumns + "order by worklistid");
    EXPECT_EQ(Result(), lines + lines);
    Run(kRecordColumns + "where 1 = 0");
    EXPECT_EQ(Result(), lines + lines);
    EXPECT_TRUE(Find<QPushButton>("cmdRunSQL")->isEnabled());
}

// A statement that gives no rows says how many it changed, in the result box
// and in the log; a run that lists records says how many.
TEST_F(SqlConsoleTest, EveryRunSaysWhatItDid) {
    Open();
    Run("update xray_worklist set gender = 'F' where worklistid <> 3");
    EXPECT_EQ(Result(), "\n   2 rows changed");
    EXPECT_TRUE(LastLogLine().endsWith(" SQL console: 2 rows changed.")) << LastLogLine().toStdString();
    Run("delete from xray_worklist where worklistid = 3");
    EXPECT_EQ(Result(), "\n   2 rows changed\n   1 row changed");
    Run(kRecordColumns + "where gender = 'F'");
    EXPECT_TRUE(LastLogLine().endsWith(" SQL console: 2 records listed."));
    Run(kRecordColumns + "where 1 = 0");
    EXPECT_TRUE(LastLogLine().endsWith(" SQL console: the statement returned no records."));
    EXPECT_EQ(Result().count('\n'), 4);
}

// A temporary table lives only as long as its connection: once the failure
// has reopened the connection, it is gone.
TEST_F(SqlConsoleTest, AFailureIsLoggedAndReopensTheConnection) {
    Open();
    Run("create temp table marker (x)");
    Run(kRecordColumns + "order by worklistid");
    const QString before = Result();

    Run("select worklistid as RequestNum, patientid as HN from xray_worklist");
    EXPECT_EQ(Result(), before);
    EXPECT_TRUE(
        LastLogLine().endsWith(" Item cannot be found in the collection: no field 'TranD'."))
        << LastLogLine().toStdString();
    Run("select x as TranD from marker");
    EXPECT_TRUE(LastLogLine().contains("no such table: marker")) << LastLogLine().toStdString();
    EXPECT_EQ(Result(), before);
    EXPECT_TRUE(Find<QPushButton>("cmdRunSQL")->isEnabled());
}

// The service runs the box's statement for every query, but only when it is
// one SELECT: an UPDATE or a script left in the box fails the query and
// changes nothing.
TEST_F(SqlConsoleTest, ReturnThisQueryAnswersWithTheBoxsSelectOnly) {
    Open();
    auto* box = Find<QPlainTextEdit>("txtSQLStr");
    Find<QCheckBox>("chkReturnThis")->setChecked(true);
    box->setPlainText(BaseSqlFor(ConnectionMode::Corvante) + "and worklistid = 2");
    const FindOutcome chosen = QueryWhileServing(port);
    ASSERT_TRUE(chosen.Succeeded()) << chosen.output.right(2000).toStdString();
    EXPECT_EQ(chosen.PatientIds(), QStringList{"P2"});

    for (const QString& statement : {QStringLiteral("update xray_worklist set is_valid = 0"),
                                     BaseSqlFor(ConnectionMode::Corvante) + "; delete from xray_worklist"}) {
        box->setPlainText(statement);
        const FindOutcome refused = QueryWhileServing(port);
        EXPECT_TRUE(refused.FailedUnableToProcess()) << refused.output.right(2000).toStdString();
        EXPECT_TRUE(refused.matches.empty());
        // The association's end may be logged after the query's own lines.
        EXPECT_TRUE(LogText().contains(
            " Query Request error: Return this Query runs a single SELECT statement only.\r\n") ||
                    LogText().endsWith(" Query Request error: Return this Query runs a single "
                                       "SELECT statement only."))
            << LogText().toStdString();
        EXPECT_EQ(box->toPlainText(), statement);
    }

    Find<QCheckBox>("chkReturnThis")->setChecked(false);
    const FindOutcome all = QueryWhileServing(port);
    ASSERT_TRUE(all.Succeeded()) << all.output.right(2000).toStdString();
    EXPECT_EQ(all.PatientIds(), (QStringList{"P1", "P2", "P3"}));
}

}  // namespace
