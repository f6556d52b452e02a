// The listener over IPv6. DCMTK's own tools take no IPv6 address, so echoscu
// and findscu reach the server at ::1 through a relay of this test's; the
// server sees an IPv6 peer, and AllowedNetworks applies to it as to IPv4.

#include <gtest/gtest.h>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/RecordingRelay.h"
#include "e2e/ServerProcess.h"

namespace {

constexpr int kOrders = 3;

struct Answered {
    bool echo = false;
    FindOutcome find;
};

Answered OverIpv6(const ServerProcess& server) {
    Answered answered;
    RecordingRelay echoRelay(server.Port(), true);
    answered.echo = EchoSucceeds(echoRelay.Port());
    RecordingRelay findRelay(server.Port(), true);
    answered.find = FindScu::Run(findRelay.Port(), WorklistKeys());
    return answered;
}

}  // namespace

TEST(Ipv6, EchoAndWorklistQueryOverIpv6WithinAllowedNetworks) {
    for (const auto& [networks, ipv6Allowed] :
         {std::pair{"::1/128", true}, std::pair{"fd00::/8, 127.0.0.1", false}}) {
        SCOPED_TRACE(networks);
        ServerProcess server(
            {.security = QStringLiteral("AllowedNetworks=%1\n").arg(QLatin1String(networks))});
        ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(kOrders)));
        ASSERT_TRUE(server.Start());

        const Answered answered = OverIpv6(server);
        EXPECT_EQ(answered.echo, ipv6Allowed);
        EXPECT_EQ(answered.find.Succeeded(), ipv6Allowed)
            << answered.find.output.right(2000).toStdString();
        if (ipv6Allowed) {
            EXPECT_EQ(answered.find.matches.size(), static_cast<size_t>(kOrders));
            EXPECT_TRUE(server.WaitForLog(QStringLiteral(" from ::1: calling AE FINDSCU")));
            // IPv4 peers are outside the one IPv6 address allowed.
            EXPECT_FALSE(EchoSucceeds(server.Port()));
        } else {
            EXPECT_TRUE(server.WaitForLog(QStringLiteral("Association refused from ::1: ")));
            EXPECT_TRUE(EchoSucceeds(server.Port())) << "127.0.0.1 is allowed";
        }
        EXPECT_TRUE(server.Stop());
    }
}
