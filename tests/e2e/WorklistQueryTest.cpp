// A modality's worklist query against the running server: how many matches
// come back, which orders they are, and that the final status follows.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <QSet>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/ServerProcess.h"

namespace {

constexpr unsigned kPendingWithUnsupportedKeys = 0xFF01;

HisOrder Order(int id, const QString& patientId, std::optional<QString> last,
               std::optional<QString> first, std::optional<QString> middle) {
    HisOrder order;
    order.worklistId = id;
    order.created = QStringLiteral("2024-05-06 07:30:00");
    order.patientId = patientId;
    order.lastName = std::move(last);
    order.firstName = std::move(first);
    order.middleName = std::move(middle);
    order.birthDate = QStringLiteral("1958-03-14");
    order.gender = QStringLiteral("M");
    return order;
}

// 450 open orders, with a done and a withdrawn order among the first rows
// the database hands out, where a missing filter would surely show them.
QList<HisOrder> FourHundredFiftyOpenOrders() {
    HisOrder done = Order(1, QStringLiteral("DONE1"), QStringLiteral("DONE"),
                          QStringLiteral("ALREADY"), QStringLiteral("EXAMINED"));
    done.done = true;
    HisOrder withdrawn = Order(2, QStringLiteral("INVALID2"), QStringLiteral("WITHDRAWN"),
                               QStringLiteral("ORDER"), QString());
    withdrawn.valid = false;
    return QList<HisOrder>{done, withdrawn} + HisDatabase::OpenOrders(450, 3);
}

int CountOf(const QString& text, const QString& piece) {
    return static_cast<int>(text.count(piece));
}

}  // namespace

TEST(WorklistQuery, SendsAtMostThreeHundredOpenOrdersThenSuccess) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), FourHundredFiftyOpenOrders()));
    ASSERT_TRUE(server.Start());

    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());

    ASSERT_TRUE(outcome.finished) << outcome.output.toStdString();
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    ASSERT_EQ(outcome.matches.size(), 300u);
    ASSERT_EQ(outcome.statuses.size(), 301u);
    for (size_t i = 0; i < 300; ++i) EXPECT_EQ(outcome.statuses[i], kPendingWithUnsupportedKeys);
    const QStringList ids = outcome.PatientIds();
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), 300) << "an order came back twice";
    for (const QString& id : ids) EXPECT_TRUE(id.startsWith(QLatin1Char('P'))) << id.toStdString();

    // The log reaches standard output shortly after the query, without
    // waiting for more activity or for the end of the program.
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("done.. P302 Req# 302 ")))
        << server.ActivityLog().right(1000).toStdString();
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_EQ(CountOf(log, QStringLiteral(" looping")), 1);
    EXPECT_EQ(CountOf(log, QStringLiteral(" done.. ")), 300);
    EXPECT_TRUE(
        log.contains(QStringLiteral("done.. P3 Req# 3 HN: P3 name: LAST3,FIRST3 MIDDLE "
                                    "return:LAST3^FIRST3^MIDDLE\n")))
        << log.left(1000).toStdString();
}

TEST(WorklistQuery, ReturnsOnlyOpenOrdersWithNamesInLatin1) {
    ServerProcess server;
    HisOrder done = Order(10, QStringLiteral("D10"), QStringLiteral("DONE"),
                          QStringLiteral("ALREADY"), QStringLiteral("X"));
    done.done = true;
    HisOrder withdrawn = Order(11, QStringLiteral("W11"), QStringLiteral("WITHDRAWN"),
                               QStringLiteral("ORDER"), QStringLiteral("X"));
    withdrawn.valid = false;
    HisOrder doneAndWithdrawn = Order(12, QStringLiteral("DW12"), QStringLiteral("BOTH"),
                                      QStringLiteral("GONE"), QStringLiteral("X"));
    doneAndWithdrawn.done = true;
    doneAndWithdrawn.valid = false;
    ASSERT_TRUE(HisDatabase::Create(
        server.HisFile(),
        {Order(1, QStringLiteral("100231"), QStringLiteral("PEÑA"), QStringLiteral("JOSÉ"),
               std::nullopt),
         done, withdrawn, doneAndWithdrawn,
         Order(2, QStringLiteral("100302"), QStringLiteral("O'BRIEN"), QStringLiteral("SEÁN"),
               QStringLiteral("PATRICK")),
         // NULL first and last names must not cost the match.
         Order(3, QStringLiteral("100318"), std::nullopt, std::nullopt, QStringLiteral("LENA")),
         // Outside ISO 8859-1: the wire gets "?" in its place.
         Order(4, QStringLiteral("100404"), QStringLiteral("ŁUKASZ"), QStringLiteral("ANNA"),
               QString())}));
    ASSERT_TRUE(server.Start());

    const FindOutcome outcome =
        FindScu::Run(server.Port(), WorklistKeys({QStringLiteral("SpecificCharacterSet=")}));

    ASSERT_TRUE(outcome.finished) << outcome.output.toStdString();
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    ASSERT_EQ(outcome.PatientIds(), QStringList({"100231", "100302", "100318", "100404"}));
    std::vector<QByteArray> names;
    for (const auto& match : outcome.matches) {
        DcmDataset& response = *match->getDataset();
        EXPECT_EQ(Value(response, DCM_SpecificCharacterSet), QByteArray("ISO_IR 100"));
        names.push_back(Value(response, DCM_PatientName));
    }
    // ISO 8859-1: Ñ is D1, É is C9, Á is C1.
    EXPECT_EQ(names[0], QByteArray("PE") + '\xD1' + "A^JOS" + '\xC9' + '^');
    EXPECT_EQ(names[1], QByteArray("O'BRIEN^SE") + '\xC1' + "N^PATRICK");
    EXPECT_EQ(names[2], QByteArray("^^LENA"));
    EXPECT_EQ(names[3], QByteArray("?UKASZ^ANNA^"));
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_TRUE(log.contains(QStringLiteral("name: PEÑA,JOSÉ  return:PEÑA^JOSÉ^\n")))
        << log.toStdString();
    EXPECT_EQ(CountOf(log, QStringLiteral(" done.. ")), 4);
}

// The limit is read from the settings; 0 and 1 are its edges.
TEST(WorklistQuery, ResultQueryNumberLimitsTheMatches) {
    for (const int limit : {0, 1}) {
        SCOPED_TRACE(limit);
        ServerProcess server({.resultQueryNumber = QString::number(limit)});
        ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(5)));
        ASSERT_TRUE(server.Start());

        const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());

        ASSERT_TRUE(outcome.finished) << outcome.output.toStdString();
        EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        EXPECT_EQ(outcome.matches.size(), static_cast<size_t>(limit));
        EXPECT_TRUE(server.Stop());
        const QString log = server.ActivityLog();
        EXPECT_EQ(CountOf(log, QStringLiteral(" looping")), 1);
        EXPECT_EQ(CountOf(log, QStringLiteral(" done.. ")), limit);
    }
}

TEST(WorklistQuery, EmptyWorklistGetsSuccessOnly) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start());

    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());

    ASSERT_TRUE(outcome.finished) << outcome.output.toStdString();
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_TRUE(outcome.matches.empty());
    EXPECT_EQ(outcome.statuses.size(), 1u);
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_TRUE(log.contains(QStringLiteral("\nCR\n"))) << log.toStdString();
    EXPECT_EQ(CountOf(log, QStringLiteral(" looping")), 1);
    EXPECT_FALSE(log.contains(QStringLiteral("done.. ")));
}

// Associations run side by side: neither modality waits for, or receives
// matches of, the other's query.
TEST(WorklistQuery, AnswersTwoModalitiesAtOnce) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), FourHundredFiftyOpenOrders()));
    ASSERT_TRUE(server.Start());

    FindScu first(server.Port(), WorklistKeys());
    FindScu second(server.Port(), WorklistKeys({QStringLiteral("AccessionNumber=")}));
    first.Start();
    second.Start();
    const FindOutcome one = first.Finish();
    const FindOutcome two = second.Finish();

    for (const FindOutcome* outcome : {&one, &two}) {
        ASSERT_TRUE(outcome->finished) << outcome->output.right(2000).toStdString();
        EXPECT_TRUE(outcome->Succeeded()) << outcome->output.right(2000).toStdString();
        EXPECT_EQ(outcome->matches.size(), 300u);
    }
    // Only the second query asked for the accession number.
    ASSERT_FALSE(one.matches.empty());
    ASSERT_FALSE(two.matches.empty());
    EXPECT_FALSE(Has(*one.matches.front()->getDataset(), DCM_AccessionNumber));
    for (const auto& match : two.matches)
        EXPECT_EQ(Value(*match->getDataset(), DCM_AccessionNumber),
                  Value(*match->getDataset(), DCM_PatientID).mid(1));
    EXPECT_TRUE(server.Stop());
}

// A modality that has seen enough cancels; the server stops sending and stays
// ready for the next query. The answer is larger than the socket buffers
// hold, so the server is still sending when the cancel comes.
TEST(WorklistQuery, CancelEndsTheQueryAndTheServerServesOn) {
    constexpr int kOrders = 20000;
    ServerProcess server({.resultQueryNumber = QString::number(kOrders)});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(kOrders)));
    ASSERT_TRUE(server.Start());

    const FindOutcome cancelled = FindScu::Run(
        server.Port(), WorklistKeys(), {QStringLiteral("-W"), QStringLiteral("--cancel"), "5"});

    ASSERT_TRUE(cancelled.finished) << cancelled.output.right(2000).toStdString();
    EXPECT_EQ(cancelled.FinalStatus(), 0xFE00u) << cancelled.output.right(2000).toStdString();
    EXPECT_GE(cancelled.matches.size(), 5u);
    EXPECT_LT(cancelled.matches.size(), static_cast<size_t>(kOrders));

    ProbeAssociation next(server.Port());
    ASSERT_TRUE(next.Open());
    const FindReply all = next.Find();
    EXPECT_EQ(all.status, std::optional<Uint16>(0x0000));
    EXPECT_EQ(all.pending, kOrders);
    EXPECT_TRUE(next.Release());
    EXPECT_TRUE(server.Stop());
}
