// The activity log kept as files by the real headless server: whole stamped
// lines, rotation by size, the toolkit's own errors as lines of their own, a
// folder that cannot be written, and a rotation by an outside tool (SIGHUP).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

#include "e2e/DicomPeer.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/ServerProcess.h"

namespace {

const QRegularExpression kFileLine(
    QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (.*)$)"));
const QRegularExpression kSendingLine(QStringLiteral(
    R"(^sending\.LEE\^KIM\d{3}\^  CompanyCode:BWH AccessionNum:N\d{3} Examination: CHEST$)"));

void WriteOrders(const QString& folder, int count) {
    for (int i = 0; i < count; ++i) {
        QFile file(folder + QStringLiteral("/N%1.HL7").arg(i, 3, 10, QLatin1Char('0')));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QList<QByteArray> fields(29);
        fields[0] = "BWH";
        fields[7] = QByteArray::number(500000 + i);
        fields[9] = "LEE^KIM" + QByteArray::number(i).rightJustified(3, '0') + "^";
        fields[19] = "N" + QByteArray::number(i).rightJustified(3, '0');
        fields[21] = "CHEST";
        file.write(fields.join('|') + "\r\n");
    }
}

// A query identifier whose element claims more bytes than there are: the
// toolkit's parser reports it on its own logger.
void SendBrokenIdentifier(int port) {
    ProbeAssociation probe(port);
    ASSERT_TRUE(probe.Open());
    probe.FindRaw(
        std::string("\x10\x00\x10\x00\x64\x00\x00\x00"
                    "ABCD",
                    12));
    probe.Abort();
}

// Each line of the order-file answer is one of its own forms, whole.
void ExpectWholeQueryLines(const QStringList& texts, const std::string& where) {
    for (const QString& text : texts) {
        if (text.startsWith("sending."))
            EXPECT_TRUE(kSendingLine.match(text).hasMatch()) << where << ": " << text.toStdString();
        else if (text.contains("sent..") || text.contains("Completed.") || text.contains("DCMTK"))
            EXPECT_TRUE(text == "sent.. " || text == "Completed." || text.startsWith("DCMTK") ||
                        text.contains(" DCMTK error: "))
                << where << ": " << text.toStdString();
    }
}

}  // namespace

TEST(ActivityLogFile, WholeStampedLinesRotatedKeepingTheConfiguredFiles) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QDir(folder.path()).mkdir("orders");
    WriteOrders(folder.filePath("orders"), 200);
    ServerSettings settings{{}, {}, QStringLiteral("optBramwoods"), folder.filePath("orders"), {}};
    settings.security =
        "LogFolder=" + folder.filePath("logs") + "\nLogFileMaxBytes=8000\nLogFilesKept=3\n";
    ServerProcess server(settings);
    ASSERT_TRUE(server.Start());
    const QStringList keys{QStringLiteral("ScheduledProcedureStepSequence[0].Modality="),
                           QStringLiteral("PatientName=")};
    // Two modalities and a broken peer at once: every line still whole.
    FindScu first(server.Port(), keys), second(server.Port(), keys);
    first.Start();
    second.Start();
    SendBrokenIdentifier(server.Port());
    EXPECT_EQ(first.Finish().matches.size(), 200u);
    EXPECT_EQ(second.Finish().matches.size(), 200u);
    ASSERT_TRUE(server.Stop());

    const QDir logs(folder.filePath("logs"));
    ASSERT_EQ(logs.entryList(QDir::Files, QDir::Name),
              (QStringList{"talvek-mwl.log", "talvek-mwl.log.1", "talvek-mwl.log.2"}));
    QStringList texts;
    for (const char* name : {"talvek-mwl.log.2", "talvek-mwl.log.1", "talvek-mwl.log"}) {
        QFile file(logs.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_LE(bytes.size(), 8000) << name;
        EXPECT_TRUE(bytes.endsWith('\n')) << name;
        for (const QString& line : QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts)) {
            const auto match = kFileLine.match(line);
            ASSERT_TRUE(match.hasMatch()) << name << ": " << line.toStdString();
            texts << match.captured(1);
        }
    }
    ExpectWholeQueryLines(texts, "log file");
    EXPECT_TRUE(texts.contains("Completed."));

    // Standard output holds every line, whole, the toolkit's among them.
    const QStringList out = server.ActivityLog().split('\n', Qt::SkipEmptyParts);
    ExpectWholeQueryLines(out, "standard output");
    EXPECT_EQ(out.filter(kSendingLine).size(), 400);
    EXPECT_EQ(out.filter(QRegularExpression(" DCMTK error: ")).size(), 1)
        << server.ActivityLog().right(3000).toStdString();
    EXPECT_TRUE(server.ActivityLog().contains("The activity log is also written to " +
                                              logs.filePath("talvek-mwl.log")));
}

TEST(ActivityLogFile, UnwritableFolderIsALogLineAndTheServerServes) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QDir(folder.path()).mkdir("orders");
    WriteOrders(folder.filePath("orders"), 3);
    QFile plain(folder.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    ServerSettings settings{{}, {}, QStringLiteral("optBramwoods"), folder.filePath("orders"), {}};
    settings.security = "LogFolder=" + folder.filePath("plain/logs") + "\n";
    ServerProcess server(settings);
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(server.WaitForLog("Cannot write the activity log file " +
                                  folder.filePath("plain/logs/talvek-mwl.log") + ": "))
        << server.ActivityLog().toStdString();
    const FindOutcome answer = FindScu::Run(
        server.Port(), {QStringLiteral("ScheduledProcedureStepSequence[0].Modality=")});
    EXPECT_TRUE(answer.Succeeded()) << answer.output.right(2000).toStdString();
    EXPECT_EQ(answer.matches.size(), 3u);
    EXPECT_TRUE(server.Stop());
    EXPECT_FALSE(QFile::exists(folder.filePath("plain/logs")));
}

// A log rotation tool moves the file away and sends SIGHUP: the program goes
// on serving, says so in one line and writes from then on to a new file.
TEST(ActivityLogFile, SighupOpensTheFileAgainAndTheServerServesOn) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QDir(folder.path()).mkdir("orders");
    WriteOrders(folder.filePath("orders"), 3);
    ServerSettings settings{{}, {}, QStringLiteral("optBramwoods"), folder.filePath("orders"), {}};
    settings.security = "LogFolder=" + folder.filePath("logs") + "\n";
    ServerProcess server(settings);
    ASSERT_TRUE(server.Start());
    const QStringList keys{QStringLiteral("ScheduledProcedureStepSequence[0].Modality=")};
    EXPECT_EQ(FindScu::Run(server.Port(), keys).matches.size(), 3u);
    ASSERT_TRUE(server.WaitForLog(QStringLiteral("Association 1 ended"), kLogWaitMs));
    const QString current = folder.filePath("logs/talvek-mwl.log");
    const QString rotated = folder.filePath("logs/talvek-mwl.log.rotated");
    ASSERT_TRUE(QFile::rename(current, rotated));

    server.Signal(SIGHUP);
    const QString reopened = "SIGHUP: the activity log file " + current + " was opened again.";
    ASSERT_TRUE(server.WaitForLog(reopened, kLogWaitMs)) << server.Errors().toStdString();
    const FindOutcome after = FindScu::Run(server.Port(), keys);
    EXPECT_TRUE(after.Succeeded()) << after.output.right(2000).toStdString();
    EXPECT_EQ(after.matches.size(), 3u);
    ASSERT_TRUE(server.Stop());

    QFile newFile(current);
    ASSERT_TRUE(newFile.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(newFile.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.front().endsWith(reopened)) << lines.front().toStdString();
    // The second query's answer is in the new file, the first one's in the old.
    EXPECT_EQ(lines.filter(QStringLiteral(" Completed.")).size(), 1);
    QFile oldFile(rotated);
    ASSERT_TRUE(oldFile.open(QIODevice::ReadOnly));
    const QByteArray old = oldFile.readAll();
    EXPECT_EQ(old.count(" Completed.\n"), 1);
    EXPECT_FALSE(old.contains("SIGHUP"));
}
