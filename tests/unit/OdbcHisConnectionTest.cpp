#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Fakes.h"
#include "platform/ServiceStatus.h"
#include "platform/his/OdbcConnectionString.h"
#include "platform/his/OdbcHisConnection.h"

// The HIS connection against a real SQLite file through the SQLite3 ODBC
// driver.

namespace {

class OdbcHisConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        const QString file = QDir(folder.path()).filePath("his.db");
        ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));  // an empty database
        his = std::make_unique<OdbcHisConnection>(log, "Driver=SQLite3;Database=" + file);
        his->Reopen();
        ASSERT_TRUE(his->IsOpen()) << log.Text().toStdString();
        for (const char* sql : {
                 "create table orders (RequestNum integer, HN text, MLN text, MMN text, "
                 "TranD text)",
                 "insert into orders values (1, 'P1', 'DOE', 'Q', '2026-12-01 08:00:00')",
                 "insert into orders values (2, 'P2', 'ROE', null, '2026-12-01 09:00:00')",
                 "insert into orders values (3, 'P3', 'POE', '', '2026-12-01 10:00:00')"})
            his->Execute(QString::fromLatin1(sql));
    }

    QTemporaryDir folder;
    FakeLog log;
    std::unique_ptr<OdbcHisConnection> his;
};

TEST_F(OdbcHisConnectionTest, RowsInOrderWithCaseInsensitiveFieldsAndRealNulls) {
    auto records = his->Execute(
        "select RequestNum, HN, MLN as DocName, MMN, TranD from orders order by RequestNum");
    QStringList seen;
    while (!records->Eof()) {
        seen << records->Field("requestnum").toString() + ":" + records->Field("hn").toString();
        EXPECT_EQ(records->Field("DOCNAME"), records->Field("docname"));
        if (records->Field("REQUESTNUM").toInt() == 2) EXPECT_TRUE(records->Field("mmn").isNull());
        if (records->Field("REQUESTNUM").toInt() == 3) {
            EXPECT_FALSE(records->Field("MMN").isNull());
            EXPECT_EQ(records->Field("MMN").toString(), "");
        }
        records->MoveNext();
    }
    EXPECT_EQ(seen, (QStringList{"1:P1", "2:P2", "3:P3"}));
    records->MoveNext();
    EXPECT_TRUE(records->Eof());
}

// Numbers beyond 32 bits, in every numeric column type the HIS may declare,
// come back as the digits it holds, also when text columns are read between
// them (the driver layer then goes over the numeric columns again).
TEST_F(OdbcHisConnectionTest, NumbersComeBackAsTheDigitsTheDatabaseHolds) {
    his->Execute("create table numbers (n integer, t text, b bigint, d decimal(18,0), s smallint)");
    his->Execute(
        "insert into numbers values (2147483648, 'A', 4294967296, 123456789012345678, -7)");
    his->Execute("insert into numbers values (-9223372036854775808, null, null, 2147483647, 0)");
    auto records = his->Execute("select n, t, b, d, s from numbers order by rowid");
    QStringList rows;
    while (!records->Eof()) {
        QStringList fields;
        for (const char* name : {"n", "t", "b", "d", "s"}) {
            const QVariant value = records->Field(QString::fromLatin1(name));
            fields << (value.isNull() ? QStringLiteral("NULL") : value.toString());
        }
        rows << fields.join(QLatin1Char(' '));
        records->MoveNext();
    }
    EXPECT_EQ(rows, (QStringList{"2147483648 A 4294967296 123456789012345678 -7",
                                 "-9223372036854775808 NULL NULL 2147483647 0"}));
}

TEST_F(OdbcHisConnectionTest, MissingFieldThrows) {
    auto records = his->Execute("select HN from orders");
    ASSERT_FALSE(records->Eof());
    EXPECT_THROW(records->Field("MLN"), MwlError);
}

TEST_F(OdbcHisConnectionTest, EmptyResultAndStatementsWithoutRows) {
    EXPECT_TRUE(his->Execute("select HN from orders where 1=0")->Eof());
    EXPECT_TRUE(his->Execute("update orders set HN = 'X' where RequestNum = 99")->Eof());
}

// A value is bound, never spliced: quotes and SQL in it stay text; a name
// the statement does not use is left out; a typed null is SQL NULL.
TEST_F(OdbcHisConnectionTest, NamedParametersAreBoundAndChangesCountTheirRows) {
    const SqlParameters values = {{"Hn", "P1' or '1'='1"},
                                  {"Name", "x'); drop table orders; --"},
                                  {"Unused", "anything"},
                                  {"Middle", QVariant(QMetaType::fromType<QString>())}};
    const auto none = his->Execute("update orders set MLN = :Name, MMN = :Middle where HN = :Hn",
                                   values);
    EXPECT_EQ(none->RowsChanged(), 0);
    const auto one = his->Execute(
        "update orders set MLN = :Name, MMN = :Middle where HN = :Hn or HN = :Other",
        values + SqlParameters{{"Other", "P2"}});
    EXPECT_EQ(one->RowsChanged(), 1);
    auto records = his->Execute("select MLN, MMN from orders where HN = :Hn", {{"Hn", "P2"}});
    ASSERT_FALSE(records->Eof());
    EXPECT_EQ(records->Field("MLN").toString(), "x'); drop table orders; --");
    EXPECT_TRUE(records->Field("MMN").isNull());
    EXPECT_EQ(his->Execute("select HN from orders where MLN = 'DOE'")->Field("HN"), "P1");
    // Quotes and comments hold no placeholders; a name without a value is refused.
    auto quoted = his->Execute("select ':Hn' as A, /* :Hn */ :Hn as B -- :Hn\n", {{"Hn", "x"}});
    EXPECT_EQ(quoted->Field("A").toString() + quoted->Field("B").toString(), ":Hnx");
    EXPECT_THROW(his->Execute("select :Missing", {{"Hn", "x"}}), MwlError);
}

TEST_F(OdbcHisConnectionTest, FailingStatementCarriesTheDriverMessage) {
    try {
        his->Execute("select * from nosuch");
        FAIL() << "no error";
    } catch (const MwlError& error) {
        EXPECT_TRUE(error.Description().contains("no such table")) << error.what();
    }
    // The connection stays usable.
    EXPECT_FALSE(his->Execute("select HN from orders")->Eof());
}

TEST_F(OdbcHisConnectionTest, SecondStatementWhileReadingKeepsTheFirstReadable) {
    auto orders = his->Execute("select RequestNum, HN from orders order by RequestNum");
    ASSERT_FALSE(orders->Eof());
    EXPECT_EQ(orders->Field("HN").toString(), "P1");

    auto lookup = his->Execute("select count(*) as N from orders");
    ASSERT_FALSE(lookup->Eof());
    EXPECT_EQ(lookup->Field("n").toInt(), 3);
    his->Execute("update orders set MLN = 'UPDATED' where RequestNum = 1");

    QStringList rest;
    orders->MoveNext();
    while (!orders->Eof()) {
        rest << orders->Field("HN").toString();
        orders->MoveNext();
    }
    EXPECT_EQ(rest, (QStringList{"P2", "P3"}));

    auto check = his->Execute("select MLN from orders where RequestNum = 1");
    EXPECT_EQ(check->Field("MLN").toString(), "UPDATED");
}

TEST_F(OdbcHisConnectionTest, ReopenGivesAFreshWorkingConnection) {
    his->Reopen();
    EXPECT_TRUE(his->IsOpen());
    EXPECT_FALSE(his->Execute("select HN from orders")->Eof());
    EXPECT_TRUE(log.Text().isEmpty()) << log.Text().toStdString();
}

TEST_F(OdbcHisConnectionTest, ReopenWhileARecordsetIsOpen) {
    auto open = his->Execute("select HN from orders order by RequestNum");
    his->Reopen();
    EXPECT_TRUE(his->IsOpen());
    EXPECT_NO_THROW(his->Execute("update orders set HN = 'Z' where RequestNum = 3"));
    QStringList seen;
    while (!open->Eof()) {
        seen << open->Field("HN").toString();
        open->MoveNext();
    }
    EXPECT_EQ(seen.size(), 3);
}

// A failed open is a time-stamped line of its own that says where the HIS
// is (never with its password), and the service's status shows the HIS
// failing until a statement gets through.
TEST(OdbcHisConnection, FailedOpenIsLoggedWithWhereTheHisIsNotThrown) {
    QTemporaryDir folder;
    FakeLog log;
    ServiceStatus status(TestClock());
    OdbcHisConnection his(log, "Driver=NoSuchDriverHere;Server=his.example;Port=1433;"
                               "Database=Radiology;UID=ris;PWD=s3cret");
    his.SetStatus(&status);
    EXPECT_NO_THROW(his.Reopen());
    EXPECT_FALSE(his.IsOpen());
    ASSERT_EQ(log.Lines().size(), 2) << log.Text().toStdString();
    EXPECT_TRUE(log.Lines()[1].startsWith(FakeLog::Stamped("Cannot Connect. ")));
    EXPECT_TRUE(log.Lines()[1].endsWith(
        " (HIS: server his.example port 1433, database Radiology)"))
        << log.Text().toStdString();
    EXPECT_FALSE(log.Text().contains("s3cret"));
    EXPECT_THROW(his.Execute("select 1"), MwlError);
    EXPECT_TRUE(status.Text().endsWith("| HIS: failing (HIS not available at 09:15:42)"));

    const QString file = QDir(folder.path()).filePath("his.db");
    QFile(file).open(QIODevice::WriteOnly);
    his.UseConnectionString("Driver=SQLite3;Database=" + file);
    his.Reopen();
    EXPECT_THROW(his.Execute("select * from nosuch"), MwlError);
    EXPECT_TRUE(status.Text().endsWith("| HIS: failing (HIS query failed at 09:15:42)"));
    his.Execute("select 1");
    EXPECT_TRUE(status.Text().endsWith("| HIS: connected"));
    EXPECT_EQ(OdbcConnectionString("Driver=SQLite3;Database=" + file).Where(),
              "database file " + file);
}

TEST(OdbcHisConnection, NoConnectionStringMeansNoDatabase) {
    FakeLog log;
    OdbcHisConnection his(log, QString());
    his.Reopen();
    EXPECT_FALSE(his.IsOpen());
    EXPECT_TRUE(log.Text().isEmpty());
    EXPECT_THROW(his.Execute("select 1"), MwlError);
}

TEST(OdbcHisConnection, EnsureCurrentReadsTheConnectionStringAgainUntilItOpens) {
    QTemporaryDir folder;
    const QString file = QDir(folder.path()).filePath("his.db");
    FakeLog log;
    OdbcHisConnection his(log, QString());
    std::optional<QString> text;
    int reads = 0;
    his.SetConnectionStringSource([&]() -> std::optional<QString> {
        ++reads;
        if (!text) throw MwlError("/home/CORVANTE.txt: No such file or directory");
        return text;
    });
    his.Reopen();
    his.EnsureCurrent();
    EXPECT_FALSE(his.IsOpen());
    EXPECT_EQ(log.Lines().filter("CORVANTE.txt: No such file").size(), 1);

    text = "Driver=NoSuchDriverHere;Database=x";
    his.EnsureCurrent();
    EXPECT_FALSE(his.IsOpen());
    EXPECT_EQ(log.Lines().filter("Cannot Connect. ").size(), 1);

    text = "Driver=SQLite3;Database=" + file;
    QFile(file).open(QIODevice::WriteOnly);
    his.EnsureCurrent();
    EXPECT_TRUE(his.IsOpen()) << log.Text().toStdString();
    EXPECT_EQ(his.ConnectionString(), *text);
    his.EnsureCurrent();  // open and current: nothing is read again
    EXPECT_EQ(reads, 3);
}

TEST(OdbcConnectionString, FindsTheSqliteFileAndBoundsItsLockWait) {
    const OdbcConnectionString braces(
        "DRIVER={SQLite3 ODBC Driver};database={/srv/his;1.db};StepAPI=1");
    EXPECT_TRUE(braces.IsSqlite());
    EXPECT_EQ(braces.SqliteFile(), "/srv/his;1.db");
    EXPECT_EQ(braces.Value("stepapi"), "1");
    EXPECT_EQ(braces.WithLockWait(2000), braces.Text() + ";Timeout=2000");

    EXPECT_EQ(
        OdbcConnectionString("Driver=SQLite3;Timeout=100000;Database=/h.db").WithLockWait(20000),
        "Driver=SQLite3;Timeout=20000;Database=/h.db");
    EXPECT_EQ(
        OdbcConnectionString("Driver=SQLite3;Database=/h.db;Timeout=500;").WithLockWait(20000),
        "Driver=SQLite3;Database=/h.db;Timeout=500;");

    for (const char* other : {"Driver=FreeTDS;Server=his;Database=Radiology;UID=u;PWD={a;b}",
                              "DSN=his", "Driver=SQLite3;Database=:memory:"}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(OdbcConnectionString(other).SqliteFile(), "");
    }
    const OdbcConnectionString tds("Driver=FreeTDS;Server=his;PWD={a;b}");
    EXPECT_EQ(tds.WithLockWait(2000), tds.Text());
    EXPECT_EQ(tds.Value("pwd"), "a;b");
}

}  // namespace
