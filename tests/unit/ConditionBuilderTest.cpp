#include <gtest/gtest.h>

#include "platform/MwlError.h"
#include "platform/dicom/DicomDataset.h"
#include "worklist/ConditionBuilders.h"
#include "worklist/Tags.h"

namespace {

// A query with the given keys; a null QVariant adds the key without value.
DicomDataset Query(std::initializer_list<std::pair<Tag, QVariant>> keys) {
    DicomDataset query;
    for (const auto& [tag, value] : keys) query.Add(tag, value);
    return query;
}

QString StringCondition(const QString& value) {
    QString sql = QStringLiteral("where 1=1");
    AddStringCondition(sql, value, QStringLiteral("col"));
    return sql;
}

QString ListCondition(const DicomDataset& query) {
    QString sql;
    AddListCondition(sql, query.Item(Tags::AccessionNumber), QStringLiteral("RequestNum"));
    return sql;
}

QString NameCondition(const QVariant& name) {
    QString sql;
    AddNameCondition(sql, Query({{Tags::PatientName, name}}).Item(Tags::PatientName),
                     QStringLiteral("mas.LastName"), QStringLiteral("mas.FirstName"));
    return sql;
}

QString LinkedCondition(const DicomDataset& step, SqlDialect dialect = SqlDialect::SqlServer) {
    QString sql;
    AddLinkedDateTimeCondition(sql, step.Item(Tags::StepStartDate), step.Item(Tags::StepStartTime),
                               QStringLiteral("XRR.Transdate"), dialect);
    return sql;
}

}  // namespace

TEST(StringCondition, SkipsEmptyAndUniversalValuesAndAppendsOnly) {
    EXPECT_EQ(StringCondition(""), "where 1=1");
    EXPECT_EQ(StringCondition("*"), "where 1=1");
    EXPECT_EQ(StringCondition("**"), "where 1=1 AND col like '%%'");
    EXPECT_EQ(StringCondition("AB*C*"), "where 1=1 AND col like 'AB%C%'");
    EXPECT_EQ(StringCondition("SM?TH"), "where 1=1 AND col = 'SM?TH'");
    EXPECT_EQ(StringCondition("100_2%"), "where 1=1 AND col = '100_2%'");
}

TEST(StringCondition, DoublesQuotesSoNoValueCanAlterTheStatement) {
    EXPECT_EQ(StringCondition("O'BRIEN"), "where 1=1 AND col = 'O''BRIEN'");
    EXPECT_EQ(StringCondition("O'B*"), "where 1=1 AND col like 'O''B%'");
    EXPECT_EQ(StringCondition("x' OR '1'='1"), "where 1=1 AND col = 'x'' OR ''1''=''1'");
}

// MySQL and MariaDB read a backslash in a literal as an escape: a value
// ending in one would otherwise take the closing quote with it.
TEST(StringCondition, MySqlDialectAlsoDoublesBackslashes) {
    QString mysql;
    AddStringCondition(mysql, "x\\' OR 1=1 #", "col", SqlDialect::MySql);
    EXPECT_EQ(mysql, " AND col = 'x\\\\'' OR 1=1 #'");
    QString pattern;
    AddStringCondition(pattern, "A\\B*", "col", SqlDialect::MySql);
    EXPECT_EQ(pattern, " AND col like 'A\\\\B%'");
    QString standard;
    AddStringCondition(standard, "A\\B", "col");
    EXPECT_EQ(standard, " AND col = 'A\\B'");
}

TEST(StringCondition, StarToPercentTouchesOnlyStars) {
    EXPECT_EQ(StarToPercent("*A?B*_%"), "%A?B%_%");
    EXPECT_EQ(StarToPercent(""), "");
}

TEST(ListCondition, SingleValueFollowsTheStringRules) {
    EXPECT_EQ(ListCondition(Query({{Tags::AccessionNumber, "A1*"}})),
              " AND RequestNum like 'A1%'");
    EXPECT_EQ(ListCondition(Query({{Tags::AccessionNumber, "A1"}})), " AND RequestNum = 'A1'");
    EXPECT_EQ(ListCondition(Query({{Tags::AccessionNumber, "*"}})), "");
}

TEST(ListCondition, SeveralValuesGiveAnOrListOfEqualities) {
    EXPECT_EQ(ListCondition(Query({{Tags::AccessionNumber, "A1\\A2"}})),
              " AND ( FALSE OR RequestNum = 'A1' OR RequestNum = 'A2' )");
    EXPECT_EQ(ListCondition(Query({{Tags::AccessionNumber, "A1*\\B'2"}})),
              " AND ( FALSE OR RequestNum = 'A1*' OR RequestNum = 'B''2' )");
}

TEST(ListCondition, AbsentOrNullKeyAddsNothing) {
    EXPECT_EQ(ListCondition(Query({})), "");
    EXPECT_EQ(ListCondition(Query({{Tags::AccessionNumber, QVariant()}})), "");
}

TEST(DateComparison, GluesTheOperatorAndDropsSeconds) {
    QString sql;
    AddDateComparison(sql, QDateTime(QDate(2024, 3, 1), QTime(7, 5, 59)), ">=", "XRR.Transdate");
    EXPECT_EQ(sql, " AND XRR.Transdate>='2024-03-01 07:05'");
}

TEST(DateRangeCondition, ReadsBothEndsWithOpenEndsDefaulted) {
    auto range = [](const QString& value) {
        QString sql;
        AddDateRangeCondition(sql, Query({{Tags::StepStartDate, value}}).Item(Tags::StepStartDate),
                              QStringLiteral("d"));
        return sql;
    };
    EXPECT_EQ(range("20240301-20240315"), " AND d>='2024-03-01 00:00' AND d<='2024-03-15 00:00'");
    EXPECT_EQ(range("-20240315"), " AND d>='1800-01-01 00:00' AND d<='2024-03-15 00:00'");
    EXPECT_EQ(range("20240301-"), " AND d>='2024-03-01 00:00' AND d<='2999-01-01 00:00'");
    EXPECT_EQ(range(""), "");
    QString sql;
    AddDateRangeCondition(sql, Query({}).Item(Tags::StepStartDate), QStringLiteral("d"));
    EXPECT_EQ(sql, "");
}

TEST(LinkedDateTimeCondition, WorkedExampleRangeWithEmptyTime) {
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartDate, "20240301-20240315"},
                                     {Tags::StepStartTime, QVariant()}})),
              " AND XRR.Transdate>='2024-03-01 00:00' AND XRR.Transdate<='2024-03-15 23:59'");
}

TEST(LinkedDateTimeCondition, BothKeysEmptyGiveTheFullDefaultSpan) {
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartDate, QVariant()},
                                     {Tags::StepStartTime, QVariant()}})),
              " AND XRR.Transdate>='1800-01-01 00:00' AND XRR.Transdate<='2999-01-01 23:59'");
}

TEST(LinkedDateTimeCondition, CombinesDateAndTimeRanges) {
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartDate, "20241208"},
                                     {Tags::StepStartTime, "0800-1230"}})),
              " AND XRR.Transdate>='2024-12-08 08:00' AND XRR.Transdate<='2024-12-08 12:30'");
}

// TALVEK and PELTA run on SQL Server, which cannot run here: these texts are
// checked as written. The MySQL forms run on a real MariaDB server in the
// ORVELLINE end-to-end tests.
TEST(LinkedDateTimeCondition, DateAloneIsComparedWithTheColumnsDate) {
    const DicomDataset query = Query({{Tags::StepStartDate, "20241208"}});
    EXPECT_EQ(LinkedCondition(query),
              " AND CONVERT(date, XRR.Transdate)>='2024-12-08'"
              " AND CONVERT(date, XRR.Transdate)<='2024-12-08'");
    EXPECT_EQ(LinkedCondition(query, SqlDialect::MySql),
              " AND DATE(XRR.Transdate)>='2024-12-08' AND DATE(XRR.Transdate)<='2024-12-08'");
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartDate, "20241201-"}})),
              " AND CONVERT(date, XRR.Transdate)>='2024-12-01'"
              " AND CONVERT(date, XRR.Transdate)<='2999-01-01'");
    EXPECT_EQ(LinkedCondition(Query({})), "");
}

// An open end of a time range is the start or the end of the day, so "from
// 22:00" still finds the orders at 23:30.
TEST(LinkedDateTimeCondition, TimeAloneIsComparedWithTheColumnsTimeOfDay) {
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartTime, "0800-123015"}})),
              " AND CONVERT(time, XRR.Transdate)>='08:00:00'"
              " AND CONVERT(time, XRR.Transdate)<='12:30:15'");
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartTime, "2200-"}}), SqlDialect::MySql),
              " AND TIME(XRR.Transdate)>='22:00:00' AND TIME(XRR.Transdate)<='23:59:59'");
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartTime, "-0130"}}), SqlDialect::MySql),
              " AND TIME(XRR.Transdate)>='00:00:00' AND TIME(XRR.Transdate)<='01:30:00'");
    EXPECT_EQ(LinkedCondition(Query({{Tags::StepStartTime, QVariant()}})), "");
}

TEST(LinkedDateTimeCondition, BothKeysReadTheSameInEveryDialect) {
    const DicomDataset query =
        Query({{Tags::StepStartDate, "20241208"}, {Tags::StepStartTime, "0800-1230"}});
    EXPECT_EQ(LinkedCondition(query, SqlDialect::MySql), LinkedCondition(query));
}

TEST(LinkedDateTimeCondition, UnreadableDateEndsTheQueryWithAnError) {
    EXPECT_THROW(LinkedCondition(Query({{Tags::StepStartDate, "tomorrow"},
                                        {Tags::StepStartTime, QVariant()}})),
                 MwlError);
}

TEST(NameCondition, WorkedExampleFamilyWithStarAndGivenName) {
    EXPECT_EQ(NameCondition("SMITH*^JOHN"),
              " AND mas.LastName like 'SMITH%' AND mas.FirstName = 'JOHN'");
}

TEST(NameCondition, MatchesOnlyTheComponentsPresent) {
    EXPECT_EQ(NameCondition("SMITH"), " AND mas.LastName = 'SMITH'");
    EXPECT_EQ(NameCondition("^JOHN"), " AND mas.FirstName = 'JOHN'");
    EXPECT_EQ(NameCondition("SMITH^JOHN^PAUL^DR"),
              " AND mas.LastName = 'SMITH' AND mas.FirstName = 'JOHN'");
    EXPECT_EQ(NameCondition("*"), "");
    EXPECT_EQ(NameCondition(QVariant()), "");
    EXPECT_EQ(NameCondition("O'BRIEN^SEAN"),
              " AND mas.LastName = 'O''BRIEN' AND mas.FirstName = 'SEAN'");
    QString sql;
    AddNameCondition(sql, Query({}).Item(Tags::PatientName), "s", "f");
    EXPECT_EQ(sql, "");
}
