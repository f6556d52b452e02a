// Peers that do not speak DICOM, or stop in the middle of an answer, must
// cost the server nothing: the next modality is answered as usual.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmnet/scu.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/RawPeer.h"
#include "e2e/ServerProcess.h"

namespace {

// Connects to the server on loopback, writes the bytes, and waits (bounded)
// until the server has closed the connection or the time is up.
testing::AssertionResult SendRaw(int port, const QByteArray& bytes, bool halfClose) {
    const int fd = ConnectRaw(port);
    if (fd < 0)
        return testing::AssertionFailure()
               << "cannot connect to port " << port << ": " << std::strerror(errno);
    [[maybe_unused]] const ssize_t sent = ::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL);
    if (halfClose) ::shutdown(fd, SHUT_WR);
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char sink[512];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
    ::close(fd);
    return testing::AssertionSuccess();
}

// A modality that stops reading after the first match and aborts.
class VanishingScu : public DcmSCU {
protected:
    OFCondition handleFINDResponse(const T_ASC_PresentationContextID, QRResponse* response,
                                   OFBool& waitForNextResponse) override {
        // sendFINDRequest() frees the response itself when it keeps no list.
        (void)response;
        waitForNextResponse = OFFalse;
        return EC_Normal;
    }
};

}  // namespace

TEST(HostilePeer, BytesThatAreNoDicomLeaveTheServerServing) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());

    const QByteArray http("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    // An association request that claims 4 GiB and then ends.
    const QByteArray huge = QByteArray::fromHex("0100ffffffff0001");
    // An association request cut off inside its header fields.
    const QByteArray cut = QByteArray::fromHex("01000000004400010000414e592d534350");
    for (const QByteArray& bytes : {http, huge, cut, QByteArray(4096, '\xff'), QByteArray()}) {
        SCOPED_TRACE(bytes.left(16).toHex().toStdString());
        EXPECT_TRUE(SendRaw(server.Port(), bytes, true));
        ASSERT_TRUE(server.Running()) << server.Errors().toStdString();
    }

    EXPECT_TRUE(EchoSucceeds(server.Port()));
    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.matches.size(), 3u);
    EXPECT_TRUE(server.Stop());
}

TEST(HostilePeer, ModalityThatAbortsMidAnswerCostsTheOthersNothing) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(300)));
    ASSERT_TRUE(server.Start());

    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        VanishingScu scu;
        scu.setPeerHostName("127.0.0.1");
        scu.setPeerPort(static_cast<Uint16>(server.Port()));
        scu.setPeerAETitle("ANY-SCP");
        scu.setAETitle("VANISHING");
        OFList<OFString> syntaxes;
        syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
        scu.addPresentationContext(UID_FINDModalityWorklistInformationModel, syntaxes);
        ASSERT_TRUE(scu.initNetwork().good());
        ASSERT_TRUE(scu.negotiateAssociation().good());
        DcmDataset keys;
        keys.putAndInsertString(DCM_PatientName, "");
        DcmItem* step = nullptr;
        keys.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
        step->putAndInsertString(DCM_Modality, "CR");
        const T_ASC_PresentationContextID context =
            scu.findPresentationContextID(UID_FINDModalityWorklistInformationModel, "");
        EXPECT_TRUE(scu.sendFINDRequest(context, &keys, nullptr).good());
        scu.abortAssociation();
        ASSERT_TRUE(server.Running()) << server.Errors().toStdString();
    }

    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.matches.size(), 300u);
    EXPECT_TRUE(EchoSucceeds(server.Port()));
    EXPECT_TRUE(server.Stop());
}

// The toolkit's parser recurses once per nesting level; a deep identifier
// must be turned away before it is parsed, and the association goes on. An
// identifier over the size limit is refused at once whichever fragment
// crosses the limit (one of 1,050,000 bytes crosses it in its last one).
TEST(HostilePeer, OversizedOrDeeplyNestedIdentifierIsRefusedAtOnceAndTheAssociationServesOn) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());
    ProbeAssociation probe(server.Port());
    ASSERT_TRUE(probe.Open());

    const std::string name = IdentifierElement(0x0010, 0x0010, std::string(1050000 - 8, 'N'));
    const struct {
        std::string identifier;
        const char* comment;
    } refused[] = {{NestedIdentifier(100000), "Query identifier larger than 1 MiB"},
                   {name, "Query identifier larger than 1 MiB"},
                   {NestedIdentifier(10000), "Query identifier with more than 256 items"}};
    for (const auto& identifier : refused) {
        SCOPED_TRACE(identifier.identifier.size());
        QElapsedTimer timer;
        timer.start();
        const FindReply reply = probe.FindRaw(identifier.identifier);
        EXPECT_LT(timer.elapsed(), 2000);
        ASSERT_TRUE(reply.status.has_value());
        EXPECT_EQ(*reply.status & 0xF000, 0xC000);
        EXPECT_EQ(reply.errorComment, QString::fromLatin1(identifier.comment));
        ASSERT_TRUE(server.Running()) << server.Errors().toStdString();
    }
    // The same bytes one level deep are an ordinary worklist query.
    const FindReply shallow = probe.FindRaw(NestedIdentifier(1));
    EXPECT_EQ(shallow.status, std::optional<Uint16>(0x0000));
    EXPECT_EQ(shallow.pending, 3);
    EXPECT_TRUE(probe.Echo());
    EXPECT_TRUE(probe.Release());
    EXPECT_TRUE(server.Stop());
    EXPECT_TRUE(server.ActivityLog().contains(
        QStringLiteral("query refused: Query identifier with more than 256 items")));
}

// A C-CANCEL that crosses the final response on the wire, or comes with no
// query at all, cancels nothing and must not end the association.
TEST(HostilePeer, CancelWithNoQueryInProgressIsIgnored) {
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(3)));
    ASSERT_TRUE(server.Start());
    ProbeAssociation probe(server.Port());
    ASSERT_TRUE(probe.Open());

    EXPECT_TRUE(probe.Cancel(99));
    EXPECT_TRUE(probe.Echo());
    const FindReply first = probe.Find();
    EXPECT_EQ(first.status, std::optional<Uint16>(0x0000));
    EXPECT_EQ(first.pending, 3);
    EXPECT_TRUE(probe.Cancel(probe.LastMessageId()));
    EXPECT_TRUE(probe.Echo());
    const FindReply second = probe.Find();
    EXPECT_EQ(second.status, std::optional<Uint16>(0x0000));
    EXPECT_EQ(second.pending, 3);
    EXPECT_TRUE(probe.Release());

    EXPECT_TRUE(server.Stop());
    EXPECT_EQ(
        server.ActivityLog().count(QStringLiteral("C-CANCEL with no query in progress, ignored")),
        2);
}
