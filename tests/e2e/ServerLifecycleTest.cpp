// Starting, verifying and stopping the headless program.

#include <gtest/gtest.h>

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

TEST(ServerLifecycle, AnswersEchoAndStopsCleanlyOnSigterm) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start());

    QString output;
    EXPECT_TRUE(EchoSucceeds(server.Port(), &output)) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("Received Echo Response (Success)")))
        << output.toStdString();
    // The listener's limits, the security, the HIS query limits and the MPPS
    // settings in force are said first; then the log starts afresh.
    const QStringList lines = server.ActivityLog().trimmed().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(lines[0].contains(QStringLiteral(" Network limits: 64 associations at once")))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral(" Security: TLS off; plain DICOM port open")))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(lines[2].endsWith(
        QStringLiteral(" HIS queries: 4 at once (QueryWorkers), each within 20 s "
                       "(QueryTimeoutSeconds)")))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(lines[3].endsWith(
        " MPPS: journal in the SQLite file " + server.HomeFile("mpps-journal.db") +
        "; HIS write-back by the mode's defaults; finished order files to \"done\"; a failed "
        "write-back is tried again every 60 s"))
        << server.ActivityLog().toStdString();
    EXPECT_EQ(lines[4], QStringLiteral("started...")) << server.ActivityLog().toStdString();
    EXPECT_TRUE(server.Stop());
    // The last line is complete once the program has ended.
    EXPECT_TRUE(server.ActivityLog().endsWith(QLatin1Char('\n')));
}

// The operator must see why nothing answers, and the program stays up so the
// setting can be corrected.
TEST(ServerLifecycle, PortInUseIsLoggedAndTheProgramKeepsRunning) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
    ServerProcess server({.port = occupant.serverPort()});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start(/*expectListening=*/false));

    EXPECT_TRUE(
        server.WaitForLog(QStringLiteral("Cannot listen on port %1").arg(occupant.serverPort())))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(server.KeepsRunningFor(1000)) << server.Errors().toStdString();
    EXPECT_TRUE(server.Stop());
}

// The settings file in use is named at start. One that cannot be read in full
// is named with the reason and left exactly as the operator wrote it (it was
// rewritten with the few values the program stores back); a port that is no
// port number is named as written (-1 was named "port 0").
TEST(ServerLifecycle, SettingsFileThatCannotBeReadAndABadPortAreNamedAsWritten) {
    const QByteArray broken =
        "[Main]\noptTALVEK=False\noptCorvante=True\nWorklistPort=%PORT%\n"
        "this line is no setting\n";
    ServerProcess server({.pacsConf = broken});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
    ASSERT_TRUE(server.Start());
    const QString file = server.Folder() + QStringLiteral("/config/TALVEK/PACS.conf");
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray before = written.readAll();
    written.close();
    EXPECT_TRUE(EchoSucceeds(server.Port()));
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_TRUE(log.contains("Settings file: " + file + "\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("Settings file " + file +
                             " cannot be read: it is not in the settings file format. What could "
                             "not be read from it has its default, and nothing is saved to it "
                             "until it is corrected."))
        << log.toStdString();
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), before);

    ServerProcess badPort({.port = -1});
    ASSERT_TRUE(HisDatabase::Create(badPort.HisFile(), {}));
    ASSERT_TRUE(badPort.Start(/*expectListening=*/false));
    EXPECT_TRUE(badPort.WaitForLog(QStringLiteral(
        "Cannot listen on port \"-1\" (WorklistPort): not a TCP port number from 1 to 65535.")))
        << badPort.ActivityLog().toStdString();
    EXPECT_TRUE(badPort.Stop());
}

TEST(ServerLifecycle, BadCommandLineGetsUsageAndStatusTwo) {
    const QStringList bad[] = {{QStringLiteral("--bogus")},
                               {QStringLiteral("--headless"), QStringLiteral("--home")},
                               {QStringLiteral("--delay"), QStringLiteral("soon")}};
    for (const QStringList& arguments : bad) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        QProcess program;
        program.start(QStringLiteral(MWL_SERVER_BINARY), arguments);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 2);
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_TRUE(errors.contains(QStringLiteral("Usage: talvek-mwl"))) << errors.toStdString();
        EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
    }
    QProcess help;
    help.start(QStringLiteral(MWL_SERVER_BINARY), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("Usage: talvek-mwl"));
}
