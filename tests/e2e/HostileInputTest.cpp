// Hostile input tried case by case: bytes that are no DICOM, association
// requests and identifiers built to break a parser, keys meant to escape the
// statement, dates that are none, a result limit that is no number, order
// files that are no order. After every case the server still runs, and a
// modality that was associated all along still gets its echo and all its
// matches.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <random>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/OrderFileWriter.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/RawPeer.h"
#include "e2e/ServerProcess.h"

namespace {

constexpr int kOrders = 3;
// The orders, and the file of binary bytes, which reads as an order of odd
// fields like any other first line.
constexpr int kServed = kOrders + 1;
constexpr int kCloseWaitMs = 15000;

// The server runs, and the modality associated before the hostile case is
// still served in full on the same association.
testing::AssertionResult StillServing(ServerProcess& server, ProbeAssociation& bystander,
                                      int matches = kServed) {
    if (!server.Running())
        return testing::AssertionFailure() << "the server ended: " << server.Errors().toStdString();
    if (auto echoed = bystander.Echo(); !echoed) return echoed;
    const FindReply reply = bystander.Find();
    if (reply.status != std::optional<Uint16>(0x0000) || reply.pending != matches)
        return testing::AssertionFailure()
               << "the bystander got " << reply.pending << " matches and status "
               << (reply.status ? *reply.status : -1);
    return testing::AssertionSuccess();
}

// Sends the bytes on a connection of their own and says there are no more;
// true when the server then closes the connection in time.
bool ClosedAfter(int port, const std::string& bytes) {
    const int socket = ConnectRaw(port);
    if (socket < 0) return false;
    SendAll(socket, bytes);  // the server may close before it has read them all
    ::shutdown(socket, SHUT_WR);
    const bool closed = ClosedByPeerWithin(socket, kCloseWaitMs);
    ::close(socket);
    return closed;
}

unsigned Read16(const std::string& bytes, size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
}

void Write16(std::string& bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<char>(value >> 8);
    bytes[at + 1] = static_cast<char>(value & 0xff);
}

void Write32(std::string& bytes, size_t at, unsigned value) {
    Write16(bytes, at, value >> 16);
    Write16(bytes, at + 2, value & 0xffff);
}

// Where the 16-bit lengths of the items and sub-items of an association
// request are: the items follow the 74 bytes of fixed fields; a presentation
// context's sub-items follow its 4 bytes of context ID and reserved fields.
std::vector<size_t> ItemLengthFields(const std::string& pdu) {
    std::vector<size_t> fields;
    const auto walk = [&](size_t from, size_t to, auto& self) -> void {
        for (size_t at = from; at + 4 <= to; at += 4 + Read16(pdu, at + 2)) {
            fields.push_back(at + 2);
            const auto type = static_cast<unsigned char>(pdu[at]);
            const size_t end = at + 4 + Read16(pdu, at + 2);
            if (type == 0x20) self(at + 8, end, self);
            if (type == 0x50) self(at + 4, end, self);
        }
    };
    walk(74, pdu.size(), walk);
    return fields;
}

// Random bytes, and random bodies behind a PDU header that announces them.
std::vector<std::string> RandomPdus() {
    std::mt19937 random(14);
    std::vector<std::string> pdus;
    for (int i = 0; i < 40; ++i) {
        std::string bytes(std::uniform_int_distribution<size_t>(1, 3000)(random), '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        if (i % 2 == 0 && bytes.size() >= 6) {
            bytes[0] = static_cast<char>(1 + i % 7);
            bytes[1] = '\0';
            Write32(bytes, 2, static_cast<unsigned>(bytes.size() - 6));
        }
        pdus.push_back(bytes);
    }
    return pdus;
}

// An association request cut short, once as it was sent and once with a PDU
// length that announces only what is there.
std::vector<std::string> TruncatedPdus() {
    const std::string whole = AssociateRequestPdu("TRUNCATED");
    std::vector<std::string> pdus;
    for (const size_t cut : {size_t{1}, size_t{5}, size_t{6}, size_t{10}, size_t{42}, size_t{74},
                             size_t{78}, size_t{100}, whole.size() - 1}) {
        std::string part = whole.substr(0, cut);
        pdus.push_back(part);
        if (cut < 6) continue;
        Write32(part, 2, static_cast<unsigned>(cut - 6));
        pdus.push_back(part);
    }
    return pdus;
}

// The association request with each item length in turn set to 0, one too
// few, one too many and 65535.
std::vector<std::string> AbsurdItemLengths() {
    const std::string whole = AssociateRequestPdu("ABSURD");
    std::vector<std::string> pdus;
    for (const size_t field : ItemLengthFields(whole)) {
        const unsigned length = Read16(whole, field);
        for (const unsigned absurd : {0u, length - 1, length + 1, 0xffffu}) {
            std::string pdu = whole;
            Write16(pdu, field, absurd);
            pdus.push_back(pdu);
        }
    }
    return pdus;
}

void TryPdus(ServerProcess& server, ProbeAssociation& bystander) {
    const struct {
        const char* what;
        std::vector<std::string> pdus;
    } groups[] = {{"random PDUs", RandomPdus()},
                  {"truncated association requests", TruncatedPdus()},
                  {"absurd item lengths", AbsurdItemLengths()}};
    for (const auto& group : groups) {
        SCOPED_TRACE(group.what);
        EXPECT_GT(group.pdus.size(), 10u);
        for (size_t i = 0; i < group.pdus.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(ClosedAfter(server.Port(), group.pdus[i]));
            ASSERT_TRUE(server.Running()) << server.Errors().toStdString();
        }
        ASSERT_TRUE(StillServing(server, bystander));
    }
}

std::string Key(Uint16 group, Uint16 element, const std::string& value) {
    return IdentifierElement(group, element, value);
}

std::string PatientIdQuery(const std::string& patientId) {
    return Key(0x0010, 0x0020, patientId) + StepSequence(Key(0x0008, 0x0060, "CR"));
}

constexpr int kUnreadable = -1;
constexpr int kAborted = -2;

struct IdentifierCase {
    const char* what;
    std::string identifier;
    // Success with this many matches; kUnreadable: a failure (C000 range)
    // saying the identifier cannot be read; kAborted: no answer, the
    // association is aborted.
    int matches;
};

// Order files match a key only when it equals their field, whatever the key
// holds.
std::vector<IdentifierCase> IdentifierCases() {
    std::string thousandIds;
    for (int i = 1; i <= 1000; ++i) thousandIds += "20010" + std::to_string(i) + "\\";
    std::string endless = Key(0x0010, 0x0010, "");
    endless.resize(endless.size() - 4);
    endless += std::string("\xf0\xff\xff\x7f", 4) + "ABCD";
    return {
        {"an order's own patient ID", PatientIdQuery("200102"), 1},
        {"random bytes",
         std::string("\x13\x37\xca\xfe\x00\x01\x02\x03\xff\xfe\x00\xe0", 12) +
             std::string(200, '\x5a'),
         kUnreadable},
        {"an element longer than the identifier", endless, kUnreadable},
        {"an identifier of odd length", PatientIdQuery("200102") + "X", kAborted},
        {"an item that never ends",
         Key(0x0010, 0x0010, "") + std::string("\x40\x00\x00\x01\xff\xff\xff\xff", 8) +
             std::string("\xfe\xff\x00\xe0\xff\xff\xff\xff", 8) + Key(0x0008, 0x0060, "CR"),
         kUnreadable},
        {"a patient name of 1 MB",
         Key(0x0010, 0x0010, std::string(1000000, 'A')) + StepSequence(Key(0x0008, 0x0060, "CR")),
         0},
        {"steps nested 100 deep", NestedIdentifier(100), kServed},
        {"1,000 patient IDs", PatientIdQuery(thousandIds), 0},
        {"NUL bytes", PatientIdQuery(std::string("200102\0\0", 8)), 1},
        {"a quote that would end a literal", PatientIdQuery("200102' OR '1'='1"), 0},
        {"a percent sign", PatientIdQuery("%"), 0},
        {"an underscore", PatientIdQuery("20010_"), 0},
        {"backslashes", PatientIdQuery("\\\\200102\\"), 0},
    };
}

void TryIdentifiers(ServerProcess& server, ProbeAssociation& bystander) {
    for (const IdentifierCase& c : IdentifierCases()) {
        SCOPED_TRACE(c.what);
        ProbeAssociation hostile(server.Port(), "HOSTILE");
        ASSERT_TRUE(hostile.Open());
        const FindReply reply = hostile.FindRaw(c.identifier);
        if (c.matches == kAborted) {
            EXPECT_FALSE(reply.status.has_value());
        } else if (c.matches == kUnreadable) {
            EXPECT_EQ(reply.status.value_or(0) & 0xF000, 0xC000);
            EXPECT_EQ(reply.errorComment, QStringLiteral("Query identifier cannot be read"));
        } else {
            EXPECT_EQ(reply.status, std::optional<Uint16>(0x0000));
            EXPECT_EQ(reply.pending, c.matches);
        }
        ASSERT_TRUE(StillServing(server, bystander));
    }
}

// Order files that are no orders: skipped, and the others are served.
void WriteOrderFiles(const QString& folder) {
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        ASSERT_TRUE(WriteFinishedOrderFile(folder + QLatin1Char('/') + name, bytes));
    };
    for (int i = 1; i <= kOrders; ++i) {
        QList<QByteArray> fields(29);
        fields[0] = "BWH";
        fields[7] = QByteArray::number(200100 + i);
        fields[9] = "SANTOS^ANA^";
        write(QStringLiteral("ORDER%1.HL7").arg(i), fields.join('|') + "\r\n");
    }
    write(QStringLiteral("BIG.HL7"), QByteArray(10 * 1024 * 1024, 'x'));
    write(QStringLiteral("EMPTY.HL7"), QByteArray());
    write(QStringLiteral("BINARY.HL7"), QByteArray("\0\xff|\0|\xfe\0", 7).repeated(1000));
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("FOLDER.HL7")));
}

// A result limit in the settings that is no usable number is replaced by
// 300 at start, and the log says so: no query fails on it.
void TryResultLimits() {
    const struct {
        const char* text;
        int matches;  // -1: replaced by 300
    } limits[] = {{"many", -1}, {"99999999999", -1}, {"-5", -1}, {"2", 2}};
    for (const auto& limit : limits) {
        SCOPED_TRACE(limit.text);
        ServerProcess server({.resultQueryNumber = QString::fromLatin1(limit.text)});
        ASSERT_TRUE(HisDatabase::Create(server.HisFile(), HisDatabase::OpenOrders(kOrders)));
        ASSERT_TRUE(server.Start());
        const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys());
        EXPECT_TRUE(outcome.Succeeded()) << outcome.output.toStdString();
        if (limit.matches < 0)
            EXPECT_TRUE(server.WaitForLog(
                QStringLiteral("Settings: ResultQueryNumber \"%1\" is not a number from 0 to "
                               "999999999; using 300 instead (query number box).")
                    .arg(QString::fromLatin1(limit.text))));
        EXPECT_EQ(outcome.matches.size(),
                  static_cast<size_t>(limit.matches < 0 ? kOrders : limit.matches));
        EXPECT_TRUE(EchoSucceeds(server.Port()));
        EXPECT_TRUE(server.Stop());
    }
}

}  // namespace

TEST(HostileInput, EveryCaseLeavesTheServerServingAndTheOthersAnswered) {
    QTemporaryDir orders;
    ASSERT_TRUE(orders.isValid());
    WriteOrderFiles(orders.path());
    ServerProcess server(
        {.modeOption = QStringLiteral("optBramwoods"), .hl7Folder = orders.path()});
    ASSERT_TRUE(server.Start());
    ProbeAssociation bystander(server.Port(), "BYSTANDER");
    ASSERT_TRUE(bystander.Open());
    ASSERT_TRUE(StillServing(server, bystander));

    TryPdus(server, bystander);
    TryIdentifiers(server, bystander);

    EXPECT_TRUE(bystander.Release());
    const FindOutcome fresh = FindScu::Run(server.Port(), WorklistKeys());
    EXPECT_TRUE(fresh.Succeeded()) << fresh.output.right(2000).toStdString();
    EXPECT_EQ(fresh.matches.size(), static_cast<size_t>(kServed));
    EXPECT_TRUE(server.Stop());
    const QString log = server.ActivityLog();
    EXPECT_TRUE(log.contains(
        QStringLiteral("BIG.HL7: its first line is longer than 65536 bytes; skipped.")));
    EXPECT_TRUE(log.contains(QStringLiteral("FOLDER.HL7: it is a directory; skipped.")))
        << log.toStdString();

    TryResultLimits();
}
