// The query handler over FakeHis: it stands in for the SQL Server HIS of the
// TALVEK and PELTA modes, which cannot run on this machine; the CORVANTE and
// ORVELLINE paths also run end to end over SQLite in tests/e2e.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "Fakes.h"
#include "platform/his/OdbcHisConnection.h"
#include "worklist/QueryHandler.h"
#include "worklist/Tags.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

Row CorvanteOrder(int n) {
    return {{"RequestNum", n},
            {"TranD", "2026-11-30 08:00:00"},
            {"HN", QStringLiteral("P%1").arg(n)},
            {"MLN", "DOE"},
            {"MFN", "JANE"},
            {"MMN", "Q"},
            {"MASBirthDate", "1980-02-03"},
            {"MASS", "F"}};
}

Rows CorvanteOrders(int count) {
    Rows rows;
    for (int n = 1; n <= count; ++n) rows.push_back(CorvanteOrder(n));
    return rows;
}

class QueryHandlerTest : public ::testing::Test {
protected:
    QueryHandlerTest() { fake.SetMode(ConnectionMode::Corvante); }

    // Runs one query for a request asking for the patient's name and ID.
    FakeQueryConnection Query(const QString& root = QStringLiteral("WORKLIST")) {
        return Query(MakeRequest({Tags::PatientName, Tags::PatientId}, {Tags::StepStartDate}),
                     root);
    }
    FakeQueryConnection Query(const DicomDataset& request,
                              const QString& root = QStringLiteral("WORKLIST")) {
        FakeQueryConnection connection(request, root);
        Run(connection);
        return connection;
    }
    void Run(FakeQueryConnection& connection) {
        fake.Publish();
        handler.DicomViewer1_QueryRequest(connection, TestBudget());
    }

    void SetLimit(const QString& text) { fake.resultLimit = text; }

    int DoneLines() const { return fake.log.Text().count(QStringLiteral(" done.. ")); }

    FakeServices fake;
    QueryHandler handler{std::make_unique<BorrowedHis>(fake.his), HandlerShared(fake)};
};

TEST_F(QueryHandlerTest, SendsAtMostTheDefaultLimitThenSuccess) {
    fake.his.results.push_back(CorvanteOrders(450));
    const FakeQueryConnection connection = Query();

    ASSERT_EQ(connection.pending.size(), 300u);
    EXPECT_EQ(connection.finals, 1);
    EXPECT_TRUE(connection.failures.isEmpty());
    EXPECT_EQ(fake.his.statements, QStringList{fake.BaseSQL});
    EXPECT_EQ(fake.his.ensuredAt, QList<qsizetype>{0});  // checked before the statement ran
    EXPECT_EQ(fake.status.shownSql, QStringList{fake.BaseSQL});
    EXPECT_EQ(fake.status.commStates,
              (QStringList{"Communicating...", "Communicating...Done."}));
    EXPECT_EQ(DoneLines(), 300);
    EXPECT_TRUE(fake.log.Text().startsWith("CR" + kCrLf + kCrLf + FakeLog::Stamped("looping") +
                                           kCrLf + FakeLog::Stamped("done.. P1 ")));
    EXPECT_TRUE(fake.log.Text().contains(
        kCrLf + FakeLog::Stamped("done.. P1 Req# 1 HN: P1 name: DOE,JANE Q return:DOE^JANE^Q")));
    EXPECT_TRUE(fake.log.Text().endsWith(FakeLog::Stamped(
        "done.. P300 Req# 300 HN: P300 name: DOE,JANE Q return:DOE^JANE^Q")));
    EXPECT_EQ(connection.pending[299].PatientId(), "P300");
    EXPECT_EQ(fake.his.reopenCount, 0);
}

TEST_F(QueryHandlerTest, EachMatchIsANewDatasetWithItsOwnStepItem) {
    fake.his.results.push_back(CorvanteOrders(2));
    const FakeQueryConnection connection = Query();
    ASSERT_EQ(connection.pending.size(), 2u);
    EXPECT_EQ(connection.pending[0].PatientId(), "P1");
    EXPECT_EQ(connection.pending[1].PatientId(), "P2");
    for (const DicomDataset& match : connection.pending) {
        const auto step = match.SequenceItem(Tags::StepSequence);
        ASSERT_TRUE(step.has_value());
        EXPECT_EQ(step->Item(Tags::StepStartDate).Text(), "20261203");
        EXPECT_FALSE(match.SequenceItem(Tags::StepSequence, 1).has_value());
    }
}

TEST_F(QueryHandlerTest, NameComponentsInTheDoneLineAreTheTrimmedOnes) {
    Row row = CorvanteOrder(7);
    row["MLN"] = " DELA CRUZ ";
    row["MMN"] = QVariant();
    fake.his.results.push_back({row});
    Query();
    EXPECT_TRUE(fake.log.Text().endsWith(
        FakeLog::Stamped("done.. P7 Req# 7 HN: P7 name: DELA CRUZ,JANE  return:DELA CRUZ^JANE^")));
}

TEST_F(QueryHandlerTest, NoRecordsGiveOnlySuccess) {
    const FakeQueryConnection connection = Query();
    EXPECT_TRUE(connection.pending.empty());
    EXPECT_EQ(connection.finals, 1);
    EXPECT_EQ(fake.log.Text(), "CR" + kCrLf + kCrLf + FakeLog::Stamped("looping"));
}

TEST_F(QueryHandlerTest, LimitIsReadFromTheSettings) {
    SetLimit("0");
    fake.his.results.push_back(CorvanteOrders(3));
    FakeQueryConnection none = Query();
    EXPECT_TRUE(none.pending.empty());
    EXPECT_EQ(none.finals, 1);

    SetLimit(" 2 ");
    fake.his.results.push_back(CorvanteOrders(3));
    FakeQueryConnection two = Query();
    EXPECT_EQ(two.pending.size(), 2u);
    EXPECT_EQ(two.finals, 1);
}

TEST_F(QueryHandlerTest, LimitAbove32767Counts) {
    SetLimit("40000");
    fake.his.results.push_back(CorvanteOrders(32800));
    const FakeQueryConnection connection = Query(MakeRequest({Tags::PatientId}, {}));
    EXPECT_EQ(connection.pending.size(), 32800u);
    EXPECT_EQ(connection.finals, 1);
}

TEST_F(QueryHandlerTest, NonNumericLimitIsAnError) {
    SetLimit("lots");
    fake.his.results.push_back(CorvanteOrders(3));
    const FakeQueryConnection connection = Query();
    EXPECT_TRUE(connection.pending.empty());
    EXPECT_EQ(connection.finals, 0);
    EXPECT_EQ(connection.failures.size(), 1);
    EXPECT_TRUE(fake.log.Text().contains(kCrLf + FakeLog::Stamped("Query Request error: ")));
    // A setting of this server's is wrong, not the HIS.
    EXPECT_EQ(fake.his.reopenCount, 0);
}

TEST_F(QueryHandlerTest, FailingStatementIsLoggedAndTheConnectionReopened) {
    const QString message =
        "[SQLite]no such table: xray_worklist (1) QODBC: Unable to execute statement";
    fake.his.failWith = message;
    const FakeQueryConnection connection = Query();
    EXPECT_TRUE(connection.pending.empty());
    EXPECT_EQ(connection.finals, 0);
    // The peer learns the kind of failure; the database's message stays here.
    EXPECT_EQ(connection.failures, QStringList{"HIS query failed"});
    EXPECT_TRUE(fake.log.Text().endsWith(kCrLf + FakeLog::Stamped("Query Request error: " + message)));
    EXPECT_FALSE(fake.log.Text().contains("looping"));
    EXPECT_EQ(fake.his.reopenCount, 1);
    EXPECT_EQ(fake.status.commStates, QStringList{"Communicating..."});
}

// A locked or slow HIS: reopening would only wait on it once more.
TEST_F(QueryHandlerTest, AStatementOutOfTimeFailsAndKeepsTheConnection) {
    fake.his.failWith = QStringLiteral(
        "The HIS did not answer within the time-out of 20 s (QueryTimeoutSeconds): locked");
    fake.his.failKind = FailureKind::HisTimeout;
    const FakeQueryConnection connection = Query();
    EXPECT_EQ(connection.failures, QStringList{ErrorCommentFor(FailureKind::HisTimeout)});
    EXPECT_TRUE(fake.log.Text().contains("Query Request error: The HIS did not answer"));
    EXPECT_EQ(fake.his.reopenCount, 0);
}

TEST_F(QueryHandlerTest, OtherQueryRootsAreNotAnswered) {
    for (const QString& root : {QStringLiteral("STUDY"), QStringLiteral("PATIENT"),
                                QStringLiteral("worklist")}) {
        SCOPED_TRACE(root.toStdString());
        fake.log.Replace("earlier");
        fake.his.results.push_back(CorvanteOrders(3));
        const FakeQueryConnection connection = Query(root);
        EXPECT_EQ(fake.log.Text(), "earlier" + kCrLf + FakeLog::Stamped("Not worklist query"));
        EXPECT_EQ(connection.failures, QStringList{"Not a worklist query"});
        EXPECT_TRUE(connection.pending.empty());
        EXPECT_EQ(connection.finals, 0);
        EXPECT_TRUE(fake.his.statements.isEmpty());
        EXPECT_EQ(fake.his.reopenCount, 0);
        fake.his.results.clear();
    }
}

TEST_F(QueryHandlerTest, RequestWithoutStepItemTakesTheErrorPath) {
    DicomDataset noSequence;
    noSequence.Add(Tags::PatientName, QVariant());
    DicomDataset emptySequence;
    emptySequence.Add(Tags::StepSequence, QVariant());
    for (const DicomDataset& request : {noSequence, emptySequence}) {
        fake.his.reopenCount = 0;
        fake.log.Replace(QString());
        const FakeQueryConnection connection = Query(request);
        EXPECT_EQ(connection.finals, 0);
        EXPECT_EQ(connection.failures.size(), 1);
        EXPECT_TRUE(fake.log.Text().contains(FakeLog::Stamped("Query Request error: ")));
        // Found before any SQL: the HIS connection is left alone.
        EXPECT_EQ(fake.his.reopenCount, 0);
        EXPECT_TRUE(fake.his.statements.isEmpty());
    }
}

TEST_F(QueryHandlerTest, ShowRequestsEchoesTheRequestBeforeTheLoop) {
    fake.switches.showRequests = true;
    fake.his.results.push_back(CorvanteOrders(1));
    DicomDataset request = MakeRequest({Tags::PatientName, Tags::PatientId}, {}, "MR");
    Query(request);
    const QString expected = "MR" + kCrLf + kCrLf + "PatientName 16 16 : " + kCrLf +
                             "PatientID 16 32 : " + kCrLf +
                             "ScheduledProcedureStepSequence 64 256 : " + kCrLf +
                             FakeLog::Stamped("looping") + kCrLf +
                             "returning: 16 16 DOE^JANE^Q" + kCrLf + "returning: 16 32 P1" +
                             kCrLf + "returning: 8 96 CR" + kCrLf + kCrLf +
                             FakeLog::Stamped("done.. P1 ");
    EXPECT_TRUE(fake.log.Text().startsWith(expected)) << fake.log.Text().toStdString();
}

TEST_F(QueryHandlerTest, ReturnThisQueryRunsTheSqlBox) {
    fake.switches.returnThisQuery = true;
    fake.switches.sqlBoxText = "select * from xray_worklist where patientid = 'P1'";
    fake.his.results.push_back(CorvanteOrders(1));
    const FakeQueryConnection connection = Query();
    EXPECT_EQ(fake.his.statements, QStringList{fake.switches.sqlBoxText});
    EXPECT_EQ(fake.status.shownSql, QStringList{fake.switches.sqlBoxText});
    EXPECT_EQ(connection.pending.size(), 1u);
    EXPECT_EQ(connection.finals, 1);
}

TEST_F(QueryHandlerTest, EmptyStatementEndsWithoutStatus) {
    fake.switches.returnThisQuery = true;
    const FakeQueryConnection connection = Query();
    EXPECT_TRUE(fake.his.statements.isEmpty());
    EXPECT_EQ(connection.finals, 0);
    EXPECT_EQ(connection.failures.size(), 1);
    EXPECT_EQ(fake.status.commStates, QStringList{"Communicating..."});
    EXPECT_EQ(fake.log.Text(), "CR" + kCrLf);
}

TEST_F(QueryHandlerTest, NoDatabaseModeAnswersSuccessAtOnce) {
    QTemporaryDir emptyFolder;
    ASSERT_TRUE(emptyFolder.isValid());
    fake.switches.hl7FolderText = emptyFolder.path();
    for (const ConnectionMode mode : {ConnectionMode::None, ConnectionMode::Bramwoods}) {
        SCOPED_TRACE(static_cast<int>(mode));
        fake.SetMode(mode);
        const FakeQueryConnection connection = Query();
        EXPECT_TRUE(fake.his.statements.isEmpty());
        EXPECT_TRUE(connection.pending.empty());
        EXPECT_EQ(connection.finals, 1);
        EXPECT_TRUE(connection.failures.isEmpty());
        EXPECT_FALSE(fake.log.Text().contains("looping"));
    }
}

// A query takes the operator's settings once, as it starts: a mode clicked
// while it runs applies to the next query only.
TEST_F(QueryHandlerTest, ModeClickedDuringAQueryAppliesToTheNextOne) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (int n = 1; n <= 3; ++n) {
        QFile order(folder.filePath(QStringLiteral("ORDER%1.HL7").arg(n)));
        ASSERT_TRUE(order.open(QIODevice::WriteOnly));
        order.write(QStringLiteral("BWH|ADT|RAD|||||P%1||DOE^JANE^||19800203|F||||||||ACC%1||"
                                   "CHEST PA||20261208|||||\n")
                        .arg(n)
                        .toLatin1());
    }
    fake.switches.hl7FolderText = folder.path();
    fake.SetMode(ConnectionMode::Bramwoods);
    fake.his.results.push_back(CorvanteOrders(2));
    FakeQueryConnection connection(MakeRequest({Tags::PatientName, Tags::PatientId}, {}));
    connection.onPending = [this] {
        fake.SetMode(ConnectionMode::Corvante);
        fake.settings.Change([this](QuerySnapshot& next) {
            next.mode = fake.mode;
            next.BaseSQL = fake.BaseSQL;
        });
    };
    fake.Publish();
    handler.DicomViewer1_QueryRequest(connection, TestBudget());
    EXPECT_EQ(connection.pending.size(), 3u);
    EXPECT_EQ(connection.finals, 1);
    EXPECT_TRUE(fake.his.statements.isEmpty());
    EXPECT_FALSE(fake.log.Text().contains("looping"));

    const FakeQueryConnection next = Query();
    EXPECT_EQ(next.pending.size(), 2u);
    EXPECT_EQ(fake.his.statements, QStringList{fake.BaseSQL});
}

TEST_F(QueryHandlerTest, FailureAtTheFifthRecordKeepsTheFourSent) {
    Rows rows = CorvanteOrders(8);
    rows[4].remove("HN");
    fake.his.results.push_back(rows);
    const FakeQueryConnection connection = Query();
    EXPECT_EQ(connection.pending.size(), 4u);
    EXPECT_EQ(connection.finals, 0);
    EXPECT_EQ(connection.failures.size(), 1);
    EXPECT_EQ(DoneLines(), 4);
    EXPECT_TRUE(fake.log.Text().contains(FakeLog::Stamped("Query Request error: ")));
    EXPECT_EQ(fake.his.reopenCount, 1);
}

TEST_F(QueryHandlerTest, UnreadableOrderDateAtTheFifthRecordKeepsTheFourSent) {
    fake.SetMode(ConnectionMode::Orvelline);
    Rows rows;
    for (int n = 1; n <= 6; ++n) {
        Row row = CorvanteOrder(n);
        row["DocName"] = "DR";
        row["ProcCode"] = "CT";
        row["ProcDesc"] = "CT HEAD";
        if (n == 5) row["TranD"] = "not a date";
        rows.push_back(row);
    }
    fake.his.results.push_back(rows);
    const FakeQueryConnection connection = Query();
    EXPECT_EQ(fake.his.statements.size(), 1);
    EXPECT_EQ(connection.pending.size(), 4u);
    EXPECT_EQ(connection.finals, 0);
    EXPECT_EQ(fake.his.reopenCount, 1);
}

TEST_F(QueryHandlerTest, AModalityThatLeavesStopsTheLoopAtTheNextRecord) {
    fake.switches.generateStudyUid = true;
    fake.his.answer = [](const QString& sql) {
        return sql.contains("tbRadiologyRequests") ? Rows{} : CorvanteOrders(10);
    };
    FakeQueryConnection connection(MakeRequest({Tags::PatientId}, {}));
    connection.abandonAfter = 3;
    Run(connection);

    EXPECT_EQ(connection.pending.size(), 3u);
    EXPECT_EQ(connection.finals, 0);
    EXPECT_EQ(connection.failures.size(), 1);
    // The statement and one Study UID lookup per record sent, none for the rest.
    EXPECT_EQ(fake.his.statements.size(), 1 + 3);
    EXPECT_EQ(DoneLines(), 3);
    EXPECT_TRUE(fake.log.Text().endsWith(FakeLog::Stamped(
        "Stopped early: the modality cancelled the query or no longer takes answers.")));
    EXPECT_EQ(fake.his.reopenCount, 0);  // not a failure of the HIS

    // Gone during the last match: no success for an answer that is not whole.
    fake.his.answer = [](const QString& sql) {
        return sql.contains("tbRadiologyRequests") ? Rows{} : CorvanteOrders(3);
    };
    FakeQueryConnection last(MakeRequest({Tags::PatientId}, {}));
    last.abandonAfter = 3;
    Run(last);
    EXPECT_EQ(last.pending.size(), 3u);
    EXPECT_EQ(last.finals, 0);
    EXPECT_EQ(last.failures.size(), 1);
}

// The record loop over the real ODBC connection and SQLite, reading row by
// row (StepAPI=1) from a view whose fourth row raises an error. With the
// Study UID switch on, the lookup runs while the orders are being read, so
// the connection buffers the rest of them first.
class StudyUidBufferingTest : public QueryHandlerTest {
protected:
    // The Study UID statements are written for SQL Server (database prefixes,
    // isnull); SQLite gets them in its own dialect.
    class SqliteDialect : public BorrowedHis {
    public:
        explicit SqliteDialect(OdbcHisConnection& his) : BorrowedHis(his) {}
        std::unique_ptr<Recordset> Execute(const QString& sql) override {
            return BorrowedHis::Execute(QString(sql)
                                            .replace("Radiology..", "")
                                            .replace("Clinical_Area..", "")
                                            .replace("isnull(", "ifnull("));
        }
    };

    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        const QString file = QDir(folder.path()).filePath("his.db");
        ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
        odbc.SetConnectionString("Driver=SQLite3;StepAPI=1;Database=" + file);
        odbc.Reopen();
        ASSERT_TRUE(odbc.IsOpen()) << fake.log.Text().toStdString();
        for (const QString& sql : {
                 QStringLiteral("create table orders (worklistid integer, created text, "
                                "patientid text, last_name text, first_name text, middle_name "
                                "text, birthdate text, gender text, is_done integer, is_valid "
                                "integer)"),
                 QStringLiteral("create view xray_worklist as select worklistid, case when "
                                "worklistid = 4 then abs(-9223372036854775807 - 1) else created "
                                "end as created, patientid, last_name, first_name, middle_name, "
                                "birthdate, gender, is_done, is_valid from orders"),
                 QStringLiteral("create table tbRadiologyRequests (RevenueID text, Requestnum "
                                "text, StudyUID text)"),
                 QStringLiteral("create table tbXRRequest (RequestNum text, RevenueID text, "
                                "StudyUID text)")})
            odbc.Execute(sql);
        for (int n = 1; n <= 6; ++n) {
            odbc.Execute(QStringLiteral("insert into orders values (%1, '2026-11-30 08:00:00', "
                                        "'P%1', 'DOE', 'JANE', 'Q', '1980-02-03', 'F', 0, 1)")
                             .arg(n));
            odbc.Execute(QStringLiteral("insert into tbRadiologyRequests values ('XR', '%1', "
                                        "null)").arg(n));
            odbc.Execute(QStringLiteral("insert into tbXRRequest values ('%1', 'XR', null)").arg(n));
        }
        fake.switches.generateStudyUid = true;
    }
    int StoredUids() {
        return odbc.Execute("select count(*) as N from tbXRRequest where StudyUID is not null")
            ->Field("N")
            .toInt();
    }
    FakeQueryConnection Run() {
        FakeQueryConnection connection(MakeRequest({Tags::PatientId}, {}));
        fake.Publish();
        dialectHandler.DicomViewer1_QueryRequest(connection, TestBudget());
        return connection;
    }

    QTemporaryDir folder;
    OdbcHisConnection odbc{fake.log, QString()};
    QueryHandler dialectHandler{std::make_unique<SqliteDialect>(odbc), HandlerShared(fake)};
};

TEST_F(StudyUidBufferingTest, AnErrorInABufferedRowFailsTheQueryAfterTheRowsBeforeIt) {
    const FakeQueryConnection connection = Run();
    EXPECT_EQ(connection.pending.size(), 3u);
    EXPECT_EQ(connection.finals, 0);
    ASSERT_EQ(connection.failures.size(), 1);
    EXPECT_EQ(connection.failures[0], "HIS query failed");
    EXPECT_TRUE(fake.log.Text().contains(FakeLog::Stamped("Query Request error: [SQLite]integer overflow")))
        << fake.log.Text().toStdString();
    EXPECT_EQ(StoredUids(), 3);
}

TEST_F(StudyUidBufferingTest, OnlyTheRowsTheLimitLeavesAreBuffered) {
    SetLimit("2");
    const FakeQueryConnection connection = Run();
    // The failing fourth row lies beyond what the limit can use: never fetched.
    EXPECT_EQ(connection.pending.size(), 2u);
    EXPECT_EQ(connection.finals, 1);
    EXPECT_EQ(StoredUids(), 2);
}

}  // namespace
