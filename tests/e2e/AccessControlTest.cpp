// Who may query: the access rules let the named modalities through, and
// every other peer is rejected at the association with the standard reason,
// logged with its address and AE titles, while the server keeps serving.

#include <gtest/gtest.h>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ServerProcess.h"

namespace {

QStringList AeTitles(const QString& calling, const QString& called) {
    return {QStringLiteral("-W"), QStringLiteral("-aet"), calling, QStringLiteral("-aec"), called};
}

}  // namespace

TEST(AccessControl, AllowedPeersGetMatchesAndOthersAreRejectedWithTheReason) {
    struct Case {
        const char* what;
        QString security;
        QStringList allowed;  // findscu options of a peer the rules let in
        QStringList refused;  // and of one they keep out
        QString reason;       // as findscu prints the rejection
        QString logLine;      // what the activity log says of the refused peer
    };
    const Case cases[] = {
        {"calling AE titles", "AllowedCallingAETitles=MODALITY1, CT_ROOM_2\n",
         AeTitles("CT_ROOM_2", "ANY-SCP"), AeTitles("INTRUDER", "ANY-SCP"),
         "Calling AE Title Not Recognized",
         "Association refused from 127.0.0.1: calling AE INTRUDER, called AE ANY-SCP; calling AE "
         "title not recognised (AllowedCallingAETitles)"},
        {"called AE title", "RequiredCalledAETitle=TALVEK_MWL\n", AeTitles("FINDSCU", "TALVEK_MWL"),
         AeTitles("FINDSCU", "ANY-SCP"), "Called AE Title Not Recognized",
         "Association refused from 127.0.0.1: calling AE FINDSCU, called AE ANY-SCP; called AE "
         "title not recognised (RequiredCalledAETitle)"},
        // 127.0.0.1 is in neither network, in either of its forms: nobody on
        // this machine gets in.
        {"networks without the loopback address",
         "AllowedNetworks=10.0.0.0/8, fd00::/8\n",
         {},
         AeTitles("FINDSCU", "ANY-SCP"),
         "No Reason",
         "Association refused from 127.0.0.1: calling AE FINDSCU, called AE ANY-SCP; address not "
         "allowed (AllowedNetworks), rejected with no reason given"},
        {"networks with the loopback address, and AE titles",
         "AllowedNetworks=192.168.0.0/16, 127.0.0.0/8\nAllowedCallingAETitles=MODALITY1\n",
         AeTitles("MODALITY1", "ANY-SCP"), AeTitles("FINDSCU", "ANY-SCP"),
         "Calling AE Title Not Recognized",
         "Association refused from 127.0.0.1: calling AE FINDSCU, called AE ANY-SCP; calling AE "
         "title not recognised (AllowedCallingAETitles)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server({.security = c.security});
        ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(2)));
        ASSERT_TRUE(server.Start());

        const FindOutcome refused = FindScu::Run(server.Port(), WorklistKeys(), c.refused);
        EXPECT_TRUE(refused.finished);
        EXPECT_TRUE(refused.matches.empty());
        EXPECT_TRUE(refused.statuses.empty()) << refused.output.right(2000).toStdString();
        EXPECT_TRUE(refused.output.contains(QStringLiteral("Association Rejected")))
            << refused.output.right(2000).toStdString();
        EXPECT_TRUE(refused.output.contains(c.reason, Qt::CaseInsensitive))
            << refused.output.right(2000).toStdString();
        EXPECT_TRUE(server.WaitForLog(c.logLine, kLogWaitMs)) << server.ActivityLog().toStdString();
        ASSERT_TRUE(server.Running()) << server.Errors().toStdString();

        if (!c.allowed.isEmpty()) {
            const FindOutcome allowed = FindScu::Run(server.Port(), WorklistKeys(), c.allowed);
            EXPECT_TRUE(allowed.Succeeded()) << allowed.output.right(2000).toStdString();
            EXPECT_EQ(allowed.PatientIds(), QStringList({"P1", "P2"}));
            const QString calling = c.allowed.at(2);
            const QString called = c.allowed.at(4);
            EXPECT_TRUE(server.WaitForLog(
                QStringLiteral("Association 1 from 127.0.0.1: calling AE %1, called AE %2")
                    .arg(calling, called),
                kLogWaitMs))
                << server.ActivityLog().toStdString();
        }
        EXPECT_TRUE(server.Stop());
        EXPECT_EQ(server.ActivityLog().count(QStringLiteral("Association refused from ")), 1)
            << server.ActivityLog().toStdString();
    }
}

// With no rule set, anyone is served as before, and the log says so at start.
TEST(AccessControl, NoRulesLetEveryoneIn) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(1)));
    ASSERT_TRUE(server.Start());
    const FindOutcome outcome =
        FindScu::Run(server.Port(), WorklistKeys(), AeTitles("ANYONE", "WHATEVER"));
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.matches.size(), 1u);
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Security: TLS off; plain DICOM port open; calling AE titles: any; networks: any; called "
        "AE title: any")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("refused"))) << log.toStdString();
}
