// The key tables of docs/conformance-statement.md for the TALVEK and PELTA
// modes. Their HIS is a SQL Server, which cannot run on this machine: FakeHis
// stands in for it, so each documented matching term is checked on the
// statement the query handler sends (the other modes are queried end to end
// in tests/e2e), and the return keys on the matches built from a scripted row.

#include <dcmtk/dcmdata/dctag.h>
#include <gtest/gtest.h>

#include "ConformanceTables.h"
#include "Fakes.h"
#include "platform/dicom/Implementation.h"
#include "worklist/QueryHandler.h"

namespace {

template <typename Row>
bool IsModality(const Row& row) {
    return row.tag.group == Tags::Modality.group && row.tag.element == Tags::Modality.element;
}

// One query of the mode with the key under test set to value (or left out),
// on FakeHis; what the handler sent to the HIS and the modality.
struct Sent {
    QString statement;  // empty when nothing was executed
    QStringList failures;
};

Sent Query(const QString& mode, const MatchingRow& row, const std::optional<QString>& value) {
    FakeServices fake;
    fake.SetMode(ModeNamed(mode));
    fake.Publish();
    QueryHandler handler(std::make_unique<BorrowedHis>(fake.his), HandlerShared(fake));
    DicomDataset request;
    DicomDataset step = request.AddSequenceItem(Tags::StepSequence);
    if (!IsModality(row)) step.Add(Tags::Modality, QStringLiteral("CR"));
    if (value) PutRaw(request, row.tag, value->toLatin1().constData(), row.inStep);
    FakeQueryConnection connection(request);
    handler.DicomViewer1_QueryRequest(connection, TestBudget());
    return {fake.his.statements.value(0), connection.failures};
}

QString Statement(const QString& mode, const MatchingRow& row, const QString& value) {
    return Query(mode, row, value).statement;
}

bool IsDate(const MatchingRow& row) { return row.tag.element == Tags::StepStartDate.element; }

// A database refuses what is not a SELECT; an empty statement is a failure.
bool Refused(const Sent& sent) {
    if (sent.statement.isEmpty()) return !sent.failures.isEmpty();
    return !sent.statement.trimmed().startsWith(QStringLiteral("select"), Qt::CaseInsensitive);
}

void CheckMatchingKeys(const QString& mode) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    const QList<MatchingRow> rows = tables.MatchingKeys(mode);
    ASSERT_FALSE(rows.isEmpty());
    for (const MatchingRow& row : rows) {
        SCOPED_TRACE(row.Name().toStdString());
        const QString without = Query(mode, row, std::nullopt).statement;
        const auto conditions = [](const QString& sql) { return sql.count(" AND "); };
        EXPECT_EQ(Statement(mode, row, ""), without) << "an empty value narrows";
        if (row.Has("equal")) {
            const QString sql = Statement(mode, row, "V1");
            EXPECT_TRUE(sql.contains(" = 'V1'") && conditions(sql) == conditions(without) + 1)
                << sql.toStdString();
        }
        if (row.Has("wildcard")) {
            EXPECT_TRUE(Statement(mode, row, "V*1").contains(" like 'V%1'"));
            EXPECT_EQ(Statement(mode, row, "*"), without) << "a lone star narrows";
        }
        if (row.Has("list")) {
            const QString sql = Statement(mode, row, "V1\\V*");
            EXPECT_TRUE(sql.contains(" AND ( FALSE OR ") && sql.contains(" = 'V1' OR ") &&
                        sql.contains(" = 'V*' )"))
                << sql.toStdString();
        }
        if (row.Has("components")) {
            const QString whole = Statement(mode, row, "FAM^GIV^MID");
            EXPECT_TRUE(whole.contains(" = 'FAM'") && whole.contains(" = 'GIV'") &&
                        !whole.contains("MID"))
                << whole.toStdString();
            EXPECT_EQ(conditions(Statement(mode, row, "FAM")), conditions(without) + 1);
            const QString given = Statement(mode, row, "^GIV");
            EXPECT_TRUE(given.contains(" = 'GIV'") && conditions(given) == conditions(without) + 1)
                << given.toStdString();
        }
        if (row.Has("range")) {
            const QString sql = IsDate(row) ? Statement(mode, row, "20261201-20261202")
                                            : Statement(mode, row, "0730-1000");
            const QStringList ends = IsDate(row) ? QStringList{">='2026-12-01", "<='2026-12-02"}
                                                 : QStringList{">='07:30", "<='10:00"};
            EXPECT_TRUE(sql.contains(ends[0]) && sql.contains(ends[1])) << sql.toStdString();
        }
        if (row.Has("department")) {
            const QString other = mode == QLatin1String("PELTA") ? "US" : "CT";
            const QString xray = Statement(mode, row, "CR");
            EXPECT_FALSE(Refused(Query(mode, row, "CR")));
            EXPECT_FALSE(Refused(Query(mode, row, other)));
            EXPECT_NE(Statement(mode, row, other), xray);
            EXPECT_EQ(Statement(mode, row, "cr"), xray) << "letter case of the modality";
            EXPECT_TRUE(Refused(Query(mode, row, "ZZ"))) << "an unknown modality is answered";
        }
        if (row.Has("none")) EXPECT_EQ(Statement(mode, row, "V1"), without);
    }
}

// A row with every field the TALVEK and PELTA statements deliver.
Row FullRow() {
    return {{"IDN", "77"},
            {"TranD", "2026-12-01 08:00:00"},
            {"RequestNum", "R1"},
            {"RefNum", "F1"},
            {"HN", "100231"},
            {"DoctorName", "GARCIA"},
            {"MLN", "SANTOS"},
            {"MFN", "MARIA"},
            {"MMN", "LUZ"},
            {"MASBirthDate", "1970-01-01"},
            {"CASBirthDate", "1971-02-02"},
            {"MASS", "F"},
            {"CASSex", "M"},
            {"ProcCode", "XR001"},
            {"DocName", "7^GARCIA^LUIS^"},
            {"ProcDesc", "CHEST PA"},
            {"Encounter", "E1"}};
}

void Ask(DicomDataset& target, Tag tag) {
    if (DcmTag(tag.group, tag.element).getEVR() == EVR_SQ)
        target.AddEmptySequence(tag.group, tag.element);
    else
        target.Add(tag, QVariant());
}

void CheckReturnKeys(const QString& mode) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    for (const bool askAll : {true, false}) {
        SCOPED_TRACE(askAll ? "every attribute asked" : "no attribute asked");
        FakeServices fake;
        fake.SetMode(ModeNamed(mode));
        fake.Publish();
        fake.his.results.push_back({FullRow()});
        QueryHandler handler(std::make_unique<BorrowedHis>(fake.his), HandlerShared(fake));
        DicomDataset request;
        DicomDataset step = request.AddSequenceItem(Tags::StepSequence);
        step.Add(Tags::Modality, QStringLiteral("CR"));
        if (askAll)
            for (const ReturnRow& row : tables.ReturnKeys())
                Ask(row.inStep ? step : request, row.tag);
        FakeQueryConnection connection(request);
        handler.DicomViewer1_QueryRequest(connection, TestBudget());
        ASSERT_EQ(connection.pending.size(), 1u) << fake.log.Text().toStdString();
        const DicomDataset& match = connection.pending[0];
        const std::optional<DicomDataset> matchStep = match.SequenceItem(Tags::StepSequence);
        ASSERT_TRUE(matchStep.has_value());
        EXPECT_FALSE(match.SequenceItem(Tags::StepSequence, 1).has_value());
        for (const ReturnRow& row : tables.ReturnKeys()) {
            const QString presence = row.byMode[mode];
            // The step's Modality picks the department: the request always holds it.
            const bool asked = askAll || (row.inStep && IsModality(row));
            const bool expected = presence == "always" || (asked && presence == "asked");
            EXPECT_EQ((row.inStep ? *matchStep : match).Contains(row.tag), expected)
                << row.Name().toStdString() << " is \"" << presence.toStdString() << "\"";
        }
    }
}

}  // namespace

TEST(ConformanceStatement, KeyTablesReadAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    for (const QString& mode : ConformanceTables::Modes())
        EXPECT_FALSE(tables.MatchingKeys(mode).isEmpty()) << mode.toStdString();
    // A changed layout is a problem, never a table read short.
    EXPECT_FALSE(ConformanceTables("| Mode | Attribute | Tag | Level | Matching | Notes |\n"
                                   "|---|---|---|---|---|---|\n"
                                   "| CORVANTE | Patient ID | (0010,0020) | top | exact | |\n")
                     .Problem()
                     .isEmpty());
    EXPECT_FALSE(
        ConformanceTables("| Mode | Attribute | Tag | Level | Matching |\n").Problem().isEmpty());
}

TEST(ConformanceStatement, TalvekMatchingKeysAsDocumented) { CheckMatchingKeys("TALVEK"); }

TEST(ConformanceStatement, PeltaMatchingKeysAsDocumented) { CheckMatchingKeys("PELTA"); }

TEST(ConformanceStatement, TalvekReturnKeysAsDocumented) { CheckReturnKeys("TALVEK"); }

TEST(ConformanceStatement, PeltaReturnKeysAsDocumented) { CheckReturnKeys("PELTA"); }

// The note of the PELTA Patient ID row: with a value it is the only key.
TEST(ConformanceStatement, PeltaPatientIdAloneNarrowsWhenItHasAValue) {
    FakeServices fake;
    fake.SetMode(ConnectionMode::Pelta);
    fake.Publish();
    QueryHandler handler(std::make_unique<BorrowedHis>(fake.his), HandlerShared(fake));
    DicomDataset request = MakeRequest({}, {}, "CR");
    PutRaw(request, Tags::PatientId, "P1");
    PutRaw(request, Tags::PatientName, "FAM^GIV");
    PutRaw(request, Tags::StepStartDate, "20261201", true);
    FakeQueryConnection connection(request);
    handler.DicomViewer1_QueryRequest(connection, TestBudget());
    ASSERT_EQ(fake.his.statements.size(), 1);
    EXPECT_TRUE(fake.his.statements[0].endsWith(" AND ORD.Hpercode = 'P1'"))
        << fake.his.statements[0].toStdString();
}

// The Error Comment table names every text the server can send, and no
// other.
TEST(ConformanceStatement, ErrorCommentsAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    QStringList sent;
    for (int kind = static_cast<int>(FailureKind::Unspecified);
         kind <= static_cast<int>(FailureKind::ServerStopping); ++kind)
        sent << ErrorCommentFor(static_cast<FailureKind>(kind));
    QStringList documented = tables.ErrorComments();
    sent.sort();
    documented.sort();
    EXPECT_EQ(documented, sent);
}

// The program's own implementation class UID and version name, as the
// association policies say, legal for their VRs.
TEST(ConformanceStatement, ImplementationAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    const QString uid = tables.Policy("Implementation Class UID");
    EXPECT_EQ(uid, QLatin1String(Implementation::kClassUid));
    EXPECT_TRUE(uid.startsWith("2.25.") && uid.size() <= 64) << uid.toStdString();
    const QString name = tables.Policy("Implementation Version Name");
    EXPECT_EQ(name, QString::fromLatin1(Implementation::VersionName()));
    EXPECT_TRUE(name.startsWith("TALVEK_MWL_") && name.size() <= 16) << name.toStdString();
}
