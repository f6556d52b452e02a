#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "Fakes.h"
#include "platform/his/OdbcHisConnection.h"

// The HIS connection against a real SQLite file through the SQLite3 ODBC
// driver.

namespace {

class OdbcHisConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        his = std::make_unique<OdbcHisConnection>(
            log, "Driver=SQLite3;Database=" + QDir(folder.path()).filePath("his.db"));
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

TEST_F(OdbcHisConnectionTest, MissingFieldThrows) {
    auto records = his->Execute("select HN from orders");
    ASSERT_FALSE(records->Eof());
    EXPECT_THROW(records->Field("MLN"), MwlError);
}

TEST_F(OdbcHisConnectionTest, EmptyResultAndStatementsWithoutRows) {
    EXPECT_TRUE(his->Execute("select HN from orders where 1=0")->Eof());
    EXPECT_TRUE(his->Execute("update orders set HN = 'X' where RequestNum = 99")->Eof());
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

TEST(OdbcHisConnection, FailedOpenIsLoggedNotThrown) {
    FakeLog log;
    OdbcHisConnection his(log, "Driver=NoSuchDriverHere;Database=/nonexistent/x.db");
    EXPECT_NO_THROW(his.Reopen());
    EXPECT_FALSE(his.IsOpen());
    EXPECT_TRUE(log.Text().startsWith("Cannot Connect. ")) << log.Text().toStdString();
    EXPECT_TRUE(log.Text().endsWith("\r\n"));
    EXPECT_THROW(his.Execute("select 1"), MwlError);
}

TEST(OdbcHisConnection, NoConnectionStringMeansNoDatabase) {
    FakeLog log;
    OdbcHisConnection his(log, QString());
    his.Reopen();
    EXPECT_FALSE(his.IsOpen());
    EXPECT_TRUE(log.Text().isEmpty());
    EXPECT_THROW(his.Execute("select 1"), MwlError);
}

}  // namespace
