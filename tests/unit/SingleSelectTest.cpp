// The check that "Return this Query" runs only a statement that reads, and
// the handler refusing anything else before it reaches the HIS.

#include <gtest/gtest.h>

#include "BaseSqlFor.h"
#include "Fakes.h"
#include "worklist/QueryHandler.h"
#include "worklist/SingleSelect.h"
#include "worklist/talvek/TalvekStatement.h"

TEST(SingleSelect, TheServicesOwnStatementsAndPlainSelectsPass) {
    const QString accepted[] = {
        BaseSqlFor(ConnectionMode::Pelta),
        BaseSqlFor(ConnectionMode::Corvante),
        BaseSqlFor(ConnectionMode::Orvelline) + " order by trand desc LIMIT 50",
        SourceFor(ConnectionMode::Orvelline).BaseStatement(SqlDialect::Sqlite),
        MakeSQL("US", " AND RequestNum = 'A''1'") + " order by trand desc ",
        "  -- the open orders\n  select * from xray_worklist;  ",
        "/* note; update */ SELECT a FROM t ; ;",
        "select 'x; delete from t' as a, `insert`, \"drop\" from t",
        "select name from t where note = 'it''s; fine' and c = 'a\\b'",
        "select * from #orders",
    };
    for (const QString& sql : accepted) EXPECT_TRUE(IsSingleSelect(sql)) << sql.toStdString();
}

// Writes, second statements and the quoting tricks of both dialects: a text
// that one of them would read as a second statement is refused.
TEST(SingleSelect, AnythingThatWritesOrRunsASecondStatementFails) {
    const char* refused[] = {
        "",
        "   ",
        "update xray_worklist set is_done = 1",
        "  UPDATE t SET a = 1 -- select",
        "with x as (select 1) delete from t",
        "select 1; delete from t",
        "select 1 delete from t",
        "select * into copy_of_orders from xray_worklist",
        "select 1 exec xp_cmdshell 'dir'",
        "select 'a\\'' ; delete from t; -- '",
        "select 'a\\' ; delete from t; --'",
        "select 1 # ; delete from t\n",
        "select 1 --1 ; delete from t",
        "select /*! ; delete from t */ 1",
        "select 'unterminated",
        "select 1 /* unterminated",
        "select [a ; drop table t",
    };
    for (const char* sql : refused) EXPECT_FALSE(IsSingleSelect(sql)) << sql;
}

TEST(SingleSelect, HandlerRefusesAnythingElseWithoutRunningIt) {
    FakeServices fake;
    fake.SetMode(ConnectionMode::Corvante);
    fake.switches.returnThisQuery = true;
    QueryHandler handler(std::make_unique<BorrowedHis>(fake.his), HandlerShared(fake));
    const DicomDataset request = MakeRequest({Tags::PatientId}, {});

    fake.switches.sqlBoxText = QStringLiteral("update xray_worklist set is_valid = 0");
    FakeQueryConnection refused(request);
    fake.Publish();
    handler.DicomViewer1_QueryRequest(refused, TestBudget());
    EXPECT_TRUE(fake.his.statements.isEmpty());
    EXPECT_EQ(refused.finals, 0);
    EXPECT_EQ(refused.failures, QStringList{"Server configuration error"});
    EXPECT_EQ(fake.log.Lines().last(),
              FakeLog::Stamped(
                  "Query Request error: Return this Query runs a single SELECT statement only."));
    EXPECT_EQ(fake.his.reopenCount, 0);  // refused before any SQL

    fake.switches.sqlBoxText = QStringLiteral("select worklistid as RequestNum from xray_worklist");
    FakeQueryConnection answered(request);
    fake.Publish();
    handler.DicomViewer1_QueryRequest(answered, TestBudget());
    EXPECT_EQ(fake.his.statements, QStringList{fake.switches.sqlBoxText});
    EXPECT_EQ(answered.finals, 1);
}
