// Many modalities at once, each with keys of its own, on a database HIS and
// on the order files: each answer is the one the same query gets alone.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <thread>
#include <vector>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

constexpr int kOrders = 200;

// Order file N: patient 4000N, accession ACCN, scheduled as field 24 reads.
QByteArray OrderLine(int n) {
    QStringList fields(29);
    fields[0] = QStringLiteral("BWH");
    fields[7] = QStringLiteral("4%1").arg(n, 4, 10, QLatin1Char('0'));
    fields[9] = QStringLiteral("DOE%1^JANE^").arg(n);
    fields[11] = QStringLiteral("19800203");
    fields[12] = QStringLiteral("F");
    fields[19] = QStringLiteral("ACC%1").arg(n);
    fields[21] = QStringLiteral("CHEST PA");
    fields[23] = QStringLiteral("20261208");
    return fields.join(QLatin1Char('|')).toLatin1() + "\r\n";
}

// What a query's answer is made of that does not change from one asking to
// the next (a fresh Study Instance UID does).
QStringList Answer(const FindOutcome& outcome) {
    QStringList answer{QString::number(outcome.FinalStatus().value_or(0xFFFFFFFF), 16)};
    for (const auto& match : outcome.matches) {
        DcmDataset& data = *match->getDataset();
        answer << QString::fromLatin1(Value(data, DCM_PatientID) + "|" +
                                      Value(data, DCM_PatientName) + "|" +
                                      Value(data, DCM_AccessionNumber));
    }
    return answer;
}

struct Query {
    int port = 0;
    QStringList keys;
    QStringList alone;
    QStringList together;
};

}  // namespace

TEST(Concurrency, ThirtyTwoModalitiesAtOnceGetWhatEachGetsAlone) {
    // Room for sixteen queries to wait their turn on a slow (sanitizer) build:
    // the test is about what each answer holds.
    ServerSettings settings;
    settings.queryTimeoutSeconds = 120;
    ServerProcess database(settings);
    QList<HisOrder> orders = HisDatabase::OpenOrders(kOrders);
    ASSERT_TRUE(HisDatabase::Create(database.HisFile(), orders));
    ASSERT_TRUE(database.Start());
    ServerSettings files = settings;
    files.modeOption = QStringLiteral("optBramwoods");
    files.hl7Folder = QDir(database.Folder()).filePath(QStringLiteral("orders"));
    ASSERT_TRUE(QDir().mkpath(files.hl7Folder));
    for (int n = 0; n < kOrders; ++n) {
        QFile order(QDir(files.hl7Folder).filePath(QStringLiteral("O%1.HL7").arg(n)));
        ASSERT_TRUE(order.open(QIODevice::WriteOnly));
        order.write(OrderLine(n));
    }
    ServerProcess orderFiles(files);
    ASSERT_TRUE(orderFiles.Start());

    std::vector<Query> queries;
    for (int i = 0; i < 16; ++i) {
        // CORVANTE answers every open order whatever the keys; the keys still
        // differ from one modality to the next.
        queries.push_back({database.Port(),
                           WorklistKeys({QStringLiteral("PatientName=LAST%1*").arg(i),
                                         QStringLiteral("AccessionNumber=")})});
        // The order files match patient ID and accession number exactly.
        queries.push_back({orderFiles.Port(),
                           WorklistKeys({QStringLiteral("PatientID=4%1").arg(i * 11, 4, 10,
                                                                              QLatin1Char('0')),
                                         QStringLiteral("AccessionNumber=")})});
    }
    queries[31].keys = WorklistKeys({QStringLiteral("AccessionNumber=")});  // every order file
    for (Query& query : queries) query.alone = Answer(FindScu::Run(query.port, query.keys));

    std::vector<std::thread> modalities;
    for (Query& query : queries)
        modalities.emplace_back(
            [&query] { query.together = Answer(FindScu::Run(query.port, query.keys)); });
    for (std::thread& modality : modalities) modality.join();

    for (const Query& query : queries) {
        SCOPED_TRACE(query.keys.join(' ').toStdString());
        EXPECT_EQ(query.alone.first(), "0");
        EXPECT_EQ(query.together, query.alone);
    }
    EXPECT_EQ(queries[0].alone.size(), kOrders + 1);
    EXPECT_EQ(queries[1].alone.size(), 2);
    EXPECT_EQ(queries[31].alone.size(), kOrders + 1);
    EXPECT_TRUE(database.Stop());
    EXPECT_TRUE(orderFiles.Stop());
}
