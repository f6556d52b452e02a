// BRAMWOODS mode: worklist items from a folder of HL7 order files that the
// tests write, queried with findscu.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "e2e/DicomPeer.h"
#include "e2e/OrderFileWriter.h"
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
        ASSERT_TRUE(WriteFinishedOrderFile(Folder() + QLatin1Char('/') + name, bytes));
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

// Entries that cannot be orders are named with what they are and skipped. A
// folder that is gone (renamed, or a share that is no longer mounted) fails
// the query: the modality must not show an empty day. This used to answer
// success with no matches; an existing empty folder still does.
TEST_F(OrderFileQuery, EntriesThatAreNoOrdersAreNamedAndAFolderThatIsGoneFailsTheQuery) {
    Write("AA-empty.HL7", "");
    ASSERT_TRUE(QDir(Folder()).mkdir("AB-folder.HL7"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Folder() + "/AC-pipe.HL7").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", Folder() + "/AD-zero.HL7"));
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder(), {}});
    ASSERT_TRUE(server.Start());
    const QStringList keys{QStringLiteral("ScheduledProcedureStepSequence[0].Modality=")};
    const FindOutcome all = FindScu::Run(server.Port(), keys);
    ASSERT_TRUE(all.Succeeded()) << all.output.right(2000).toStdString();
    EXPECT_EQ(all.matches.size(), 3u);

    const QString moved = Folder() + "-moved";
    ASSERT_TRUE(QDir().rename(Folder(), moved));
    const FindOutcome gone = FindScu::Run(server.Port(), keys);
    ASSERT_TRUE(QDir().rename(moved, Folder()));
    EXPECT_TRUE(gone.FailedUnableToProcess()) << gone.output.right(2000).toStdString();
    EXPECT_EQ(gone.ErrorComment(), QStringLiteral("Order folder not available"));
    EXPECT_TRUE(gone.matches.empty());
    const FindOutcome back = FindScu::Run(server.Port(), keys);
    EXPECT_TRUE(back.Succeeded()) << back.output.right(2000).toStdString();
    EXPECT_EQ(back.matches.size(), 3u);
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_TRUE(log.contains("AA-empty.HL7: it is empty; skipped.")) << log.toStdString();
    EXPECT_TRUE(log.contains("AB-folder.HL7: it is a directory; skipped."));
    EXPECT_TRUE(log.contains("AC-pipe.HL7: it is a FIFO (named pipe); skipped."));
    EXPECT_TRUE(log.contains("AD-zero.HL7: it is a symbolic link to a character device; skipped."));
    EXPECT_TRUE(log.contains("Query Request error: Order folder " + Folder() +
                             "/ cannot be read: No such file or directory"));

    QTemporaryDir emptyFolder;
    ServerProcess empty(
        ServerSettings{{}, {}, QStringLiteral("optBramwoods"), emptyFolder.path(), {}});
    ASSERT_TRUE(empty.Start());
    const FindOutcome none = FindScu::Run(empty.Port(), keys);
    EXPECT_TRUE(none.Succeeded());
    EXPECT_TRUE(none.matches.empty());
    EXPECT_TRUE(empty.Stop());
    EXPECT_TRUE(empty.ActivityLog().contains("starting\nCompleted."));
}

// A HIS that rewrites an order file in place while modalities ask: a file
// caught half written is left out of that answer (and read again at the
// next query), so no match ever carries a value cut short.
TEST_F(OrderFileQuery, AFileRewrittenWhileQueriedIsNeverAnsweredCutShort) {
    ServerProcess server(ServerSettings{{}, {}, QStringLiteral("optBramwoods"), Folder(), {}});
    ASSERT_TRUE(server.Start());
    const QByteArray order = OrderLine("BWV", "200199", "VERSIONED^ORDER^", "ACC199", "HAND");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const QByteArray path = QFile::encodeName(Folder() + "/V.HL7");
        for (qsizetype round = 0; !done; ++round) {
            const int file = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0) return;
            // Cut anywhere in the line; every other version has no line end.
            const qsizetype cut = 1 + round % (order.size() - 1);
            bool written = ::write(file, order.constData(), cut) == cut;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            written = written && ::write(file, order.constData() + cut, order.size() - cut) ==
                                     order.size() - cut;
            if (round % 2) written = written && ::write(file, "\r\n", 2) == 2;
            ::close(file);
            if (!written) return;
            // Whole for a while: a query may find it so.
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
    });
    const FindOutcome outcome =
        FindScu::Run(server.Port(),
                     {QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                      QStringLiteral("PatientName="), QStringLiteral("AccessionNumber=")},
                     {QStringLiteral("-W"), QStringLiteral("--repeat"), QStringLiteral("100")});
    done = true;
    writer.join();
    EXPECT_EQ(outcome.output.count("Received Final Find Response"), 100)
        << outcome.output.right(2000).toStdString();
    for (const unsigned status : outcome.statuses)
        EXPECT_TRUE(status == 0x0000 || status == 0xFF01);
    const QList<QByteArray> names{
        "PE\xD1"
        "A^JOS\xC9^",
        "SANTOS^MARIA^", "O'BRIEN^SEAN^", "VERSIONED^ORDER^"};
    const QList<QByteArray> accessions{"ACC1", "ACC2", "ACC3", "ACC199"};
    int versioned = 0;
    for (const auto& match : outcome.matches) {
        DcmDataset& item = *match->getDataset();
        const QByteArray name = Value(item, DCM_PatientName).trimmed();
        EXPECT_TRUE(names.contains(name)) << name.toStdString();
        EXPECT_TRUE(accessions.contains(Value(item, DCM_AccessionNumber).trimmed()))
            << Value(item, DCM_AccessionNumber).toStdString();
        if (name == "VERSIONED^ORDER^") ++versioned;
    }
    EXPECT_GE(outcome.matches.size(), 300u);
    EXPECT_GT(versioned, 0);
    EXPECT_TRUE(server.Stop());
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
