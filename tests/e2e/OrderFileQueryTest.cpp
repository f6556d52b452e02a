// BRAMWOODS mode: worklist items from a folder of HL7 order files that the
// tests write, queried with findscu.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "e2e/DicomPeer.h"
#include "e2e/ServerProcess.h"

namespace {

// The first line of an order file: fields 1 to 29, "|"-separated.
QByteArray OrderLine(const QString& company, const QString& patientId, const QByteArray& name,
                     const QString& accession, const QString& exam, int fieldCount = 29) {
    QList<QByteArray> fields(fieldCount);
    fields[0] = company.toLatin1();
    fields[7] = patientId.toLatin1();
    fields[9] = name;
    if (fieldCount >= 12) fields[11] = "19580314";
    if (fieldCount >= 13) fields[12] = "M";
    if (fieldCount >= 17) fields[16] = "12 CALLE REAL";
    if (fieldCount >= 20) fields[19] = accession.toLatin1();
    if (fieldCount >= 22) fields[21] = exam.toLatin1();
    if (fieldCount >= 24) fields[23] = "20261208";
    return fields.join('|');
}

class OrderFileQuery : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_orders.isValid());
        Write("A.HL7", OrderLine("BWH", "200101", "PE\xD1" "A^JOS\xC9^", "ACC1", "CHEST PA") +
                           "\r\nOBR|1|ACC1\r\n");
        Write("B.HL7", OrderLine("BWH", "200102", "SANTOS^MARIA^", "ACC2", "KNEE LEFT") + "\n");
        Write("C.HL7", OrderLine("BWC", "200103", "O'BRIEN^SEAN^", "ACC3", "SPINE"));
    }

    QString Folder() const { return m_orders.path(); }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile file(Folder() + QLatin1Char('/') + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir m_orders;
};

}  // namespace

TEST_F(OrderFileQuery, EveryFileWithoutKeysAndOnlyTheMatchingAccessionOtherwise) {
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder(), {}});
    ASSERT_TRUE(server.Start());
    const FindOutcome all = FindScu::Run(
        server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                        QStringLiteral("PatientName="), QStringLiteral("AccessionNumber=")});
    ASSERT_TRUE(all.Succeeded()) << all.output.right(2000).toStdString();
    EXPECT_EQ(all.PatientIds(), QStringList({"200101", "200102", "200103"}));
    DcmDataset& first = *all.matches[0]->getDataset();
    EXPECT_EQ(Value(first, DCM_PatientName), QByteArray("PE\xD1" "A^JOS\xC9^"));
    EXPECT_EQ(Value(first, DCM_AccessionNumber), QByteArray("ACC1"));
    EXPECT_EQ(Value(first, DCM_SeriesDescription), QByteArray("CHEST PA"));
    EXPECT_EQ(Value(first, DCM_SpecificCharacterSet), QByteArray("ISO_IR 100"));
    // Field 1 stays the address unless the query asks for the address.
    EXPECT_EQ(Value(first, DCM_PatientAddress), QByteArray("BWH"));

    const FindOutcome one = FindScu::Run(
        server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                        QStringLiteral("AccessionNumber=ACC2"), QStringLiteral("PatientAddress="),
                        QStringLiteral("PatientBirthDate=")});
    ASSERT_TRUE(one.Succeeded());
    ASSERT_EQ(one.PatientIds(), QStringList({"200102"}));
    DcmDataset& match = *one.matches[0]->getDataset();
    EXPECT_EQ(Value(match, DCM_PatientAddress), QByteArray("12 CALLE REAL"));
    EXPECT_EQ(Value(match, DCM_PatientBirthDate), QByteArray("19580314"));
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_EQ(log.count("skipping."), 2);
    EXPECT_TRUE(log.contains("sending.SANTOS^MARIA^  CompanyCode:BWH AccessionNum:ACC2 "
                             "Examination: KNEE LEFT"));
    EXPECT_EQ(log.count("Completed."), 2);
}

TEST_F(OrderFileQuery, WildcardNamesMatchNothingAndShortLinesAreStillSent) {
    Write("D.HL7", OrderLine("BWX", "200104", "TAN^WEI^", "", "", 12));
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder() + "/", {}});
    ASSERT_TRUE(server.Start());
    const FindOutcome star = FindScu::Run(
        server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                        QStringLiteral("PatientName=SANTOS*")});
    EXPECT_TRUE(star.Succeeded());
    EXPECT_TRUE(star.matches.empty());

    const FindOutcome shortLine = FindScu::Run(
        server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                        QStringLiteral("PatientID=200104")});
    ASSERT_TRUE(shortLine.Succeeded());
    ASSERT_EQ(shortLine.matches.size(), 1u);
    DcmDataset& match = *shortLine.matches[0]->getDataset();
    EXPECT_TRUE(Has(match, DCM_AccessionNumber));
    EXPECT_EQ(Value(match, DCM_AccessionNumber), QByteArray());
    EXPECT_EQ(Value(match, DCM_SeriesDescription), QByteArray());
    EXPECT_TRUE(server.Stop());
}

TEST_F(OrderFileQuery, UnreadableFilesAreSkippedAndAMissingFolderAnswersEmpty) {
    Write("AA-empty.HL7", "");
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder(), {}});
    ASSERT_TRUE(server.Start());
    const FindOutcome all = FindScu::Run(
        server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality=")});
    ASSERT_TRUE(all.Succeeded()) << all.output.right(2000).toStdString();
    EXPECT_EQ(all.matches.size(), 3u);
    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(server.ActivityLog().contains("AA-empty.HL7: it is empty; skipped."));

    ServerProcess missing(
        ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder() + "/nosuch", {}});
    ASSERT_TRUE(missing.Start());
    const FindOutcome none = FindScu::Run(
        missing.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality=")});
    EXPECT_TRUE(none.Succeeded());
    EXPECT_TRUE(none.matches.empty());
    EXPECT_TRUE(missing.Stop());
    EXPECT_TRUE(missing.ActivityLog().contains("starting\nCompleted."));
}

TEST_F(OrderFileQuery, ChangedAndNewFilesAreSeenAtTheNextQuery) {
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder(), {}});
    ASSERT_TRUE(server.Start());
    const QStringList keys{QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                           QStringLiteral("AccessionNumber=")};
    ASSERT_EQ(FindScu::Run(server.Port(), keys).matches.size(), 3u);
    Write("B.HL7", OrderLine("BWH", "200102", "SANTOS^MARIA^", "ACC9", "KNEE LEFT"));  // same size
    Write("E.HL7", OrderLine("BWH", "200105", "LIM^ANA^", "ACC5", "HAND"));
    ASSERT_TRUE(QFile::remove(Folder() + "/C.HL7"));
    const FindOutcome after = FindScu::Run(server.Port(), keys);
    ASSERT_TRUE(after.Succeeded());
    EXPECT_EQ(after.PatientIds(), QStringList({"200101", "200102", "200105"}));
    EXPECT_EQ(Value(*after.matches[1]->getDataset(), DCM_AccessionNumber), QByteArray("ACC9"));
    EXPECT_TRUE(server.Stop());
}

// A modality that cancels after the first match of a large folder: the loop
// stops at the next file, and the next modality is answered at once.
TEST_F(OrderFileQuery, CancelStopsTheLoopAndTheNextModalityIsAnsweredAtOnce) {
    for (int i = 0; i < 3000; ++i)
        Write(QStringLiteral("N%1.HL7").arg(i, 4, 10, QLatin1Char('0')),
              OrderLine("BWH", QStringLiteral("3%1").arg(i, 5, 10, QLatin1Char('0')), "LEE^KIM^",
                        QStringLiteral("N%1").arg(i), "CHEST"));
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder(), {}});
    ASSERT_TRUE(server.Start());
    const QStringList broad{QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                            QStringLiteral("PatientID=")};
    const FindOutcome cancelled =
        FindScu::Run(server.Port(), broad, {QStringLiteral("-W"), QStringLiteral("--cancel"), "1"});
    ASSERT_TRUE(cancelled.finished) << cancelled.output.right(2000).toStdString();
    EXPECT_EQ(cancelled.FinalStatus(), 0xFE00u) << cancelled.output.right(2000).toStdString();
    EXPECT_TRUE(server.WaitForLog("Stopped early: the modality cancelled the query"))
        << server.ActivityLog().right(2000).toStdString();

    QElapsedTimer timer;
    timer.start();
    const FindOutcome next = FindScu::Run(
        server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                        QStringLiteral("PatientID=302999")});
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(next.Succeeded()) << next.output.right(2000).toStdString();
    EXPECT_EQ(next.PatientIds(), QStringList({"302999"}));
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_LT(log.count("sent.. "), 3000);
    EXPECT_EQ(log.count("Completed."), 1);  // the second query's
}

// An order file of 10 MB without a line break is no order: skipped by name,
// while the server reads no more than 64 KB of it.
TEST_F(OrderFileQuery, OverlongFirstLineIsSkippedAndMemoryStaysSmall) {
    Write("BIG.HL7", QByteArray(10 * 1024 * 1024, 'x'));
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder(), {}});
    ASSERT_TRUE(server.Start());
    for (int query = 1; query <= 3; ++query) {
        const FindOutcome all = FindScu::Run(
            server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality=")});
        ASSERT_TRUE(all.Succeeded()) << all.output.right(2000).toStdString();
        EXPECT_EQ(all.PatientIds(), QStringList({"200101", "200102", "200103"}));
    }
    const qint64 peakKiB = server.PeakResidentKiB();
    EXPECT_GT(peakKiB, 0);
    // ThreadSanitizer's own shadow memory of the service's threads is more
    // than the whole bound.
#ifndef __SANITIZE_THREAD__
    EXPECT_LT(peakKiB, 60 * 1024);
#endif
    EXPECT_TRUE(server.Stop());
    EXPECT_EQ(server.ActivityLog().count(
                  "BIG.HL7: its first line is longer than 65536 bytes; skipped."),
              3);
}
