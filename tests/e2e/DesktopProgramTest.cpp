// The desktop program as the operator starts it (offscreen, no start-up
// wait), queried by findscu while its window is up.

#include <gtest/gtest.h>

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
    EXPECT_EQ(server.ActivityLog().split("\r\n").first(), "MR");
    EXPECT_EQ(server.WindowState().value("txtSQLStr").toString(), BaseSqlFor(ConnectionMode::Corvante));
    EXPECT_TRUE(server.Stop());
}
