// The desktop program as the operator starts it (offscreen, no start-up
// wait), queried by findscu while its window is up.

#include <gtest/gtest.h>

#include <QRegularExpression>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"
#include "unit/BaseSqlFor.h"

TEST(DesktopProgram, WindowShowsTheQueryItAnsweredAndEndsOnSigterm) {
    ServerProcess server({.window = true});
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());
    // The load replaces the log with "started..."; the settings file in use follows.
    EXPECT_TRUE(server.WaitForLog(QStringLiteral("Settings file: ")));
    EXPECT_TRUE(server.ActivityLog().startsWith(QStringLiteral("started...\r\n")))
        << server.ActivityLog().toStdString();
    EXPECT_TRUE(
        server.WindowState().value("title").toString().endsWith(QStringLiteral(" v.%1.%2.%3")
                                                                    .arg(MWL_VERSION_MAJOR)
                                                                    .arg(MWL_VERSION_MINOR)
                                                                    .arg(MWL_VERSION_PATCH)));

    const FindOutcome outcome = FindScu::Run(
        server.Port(), {QStringLiteral("PatientName="), QStringLiteral("PatientID="),
                        QStringLiteral("ScheduledProcedureStepSequence[0].Modality=MR")});
    ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.PatientIds(), (QStringList{"P1", "P2", "P3"}));

    EXPECT_TRUE(server.WaitForWindow("lblComm", "Communicating...Done."))
        << server.WindowState().value("lblComm").toString().toStdString();
    // The start of the association stays above the query's fresh log.
    const QStringList lines = server.ActivityLog().split("\r\n");
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(QRegularExpression(" Association \\d+ from 127\\.0\\.0\\.1: ")))
        << lines[0].toStdString();
    EXPECT_EQ(lines[1], "MR");
    EXPECT_EQ(server.WindowState().value("txtSQLStr").toString(), BaseSqlFor(ConnectionMode::Corvante));
    EXPECT_TRUE(server.Stop());
}
