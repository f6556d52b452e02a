// The key tables of docs/conformance-statement.md against the running server,
// for the back-ends that run here: CORVANTE over SQLite, BRAMWOODS over order
// files, ORVELLINE over a private MariaDB server. Three orders, A, B and C,
// hold values that tell the matching terms apart; every documented key is
// queried with findscu and the orders that come back are compared with the
// document's claim. The SQL Server back-ends (TALVEK, PELTA) are checked
// against their statements in the unit tests.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/MariaDbServer.h"
#include "e2e/ProbeAssociation.h"
#include "e2e/RawPeer.h"
#include "e2e/ServerProcess.h"
#include "unit/ConformanceTables.h"

namespace {

// What each order holds for a matching key; ORVELLINE holds every one,
// CORVANTE and BRAMWOODS the ones their tables have.
struct Order {
    QString letter;
    QString accession;
    QString patientId;
    QString last, first, middle;
    QString modality;
    QString institution;
    QString date;  // YYYY-MM-DD
    QString time;  // HH:MM:SS
    QString Name() const { return last + '^' + first + '^' + middle; }
};

const Order kOrders[] = {
    {"A", "AC100", "PA100", "SANTOS", "MARIA", "LUZ", "CR", "MAIN1", "2026-12-01", "08:00:00"},
    {"B", "AC200", "PA200", "SANTOS", "MARIO", "", "CT", "MAIN2", "2026-12-02", "09:30:00"},
    {"C", "AD300", "PB300", "REYES", "MARIA", "", "MR", "NORTH", "2026-12-03", "14:00:00"},
};

using Letters = std::set<QString>;
const Letters kAll{"A", "B", "C"};

// One query for the key under test and the orders it must return.
struct Probe {
    QString value;
    Letters expected;
};

bool IsKey(const MatchingRow& row, const DcmTagKey& tag) {
    return row.tag.group == tag.getGroup() && row.tag.element == tag.getElement();
}

// The values of the orders for this key, and a pattern that A and B match.
struct KeyValues {
    QString a;
    QString c;
    QString pattern;
};

KeyValues ValuesOf(const MatchingRow& row) {
    const Order &a = kOrders[0], &c = kOrders[2];
    if (IsKey(row, DCM_AccessionNumber)) return {a.accession, c.accession, "AC*"};
    if (IsKey(row, DCM_PatientID)) return {a.patientId, c.patientId, "PA*"};
    if (IsKey(row, DCM_PatientName)) return {a.Name(), c.Name(), "SANTOS^MARI*"};
    if (IsKey(row, DCM_Modality)) return {a.modality, c.modality, "C*"};
    if (IsKey(row, DCM_InstitutionName)) return {a.institution, c.institution, "MAIN*"};
    if (IsKey(row, DCM_ScheduledProcedureStepStartDate)) return {"20261201", "20261203", {}};
    if (IsKey(row, DCM_ScheduledProcedureStepStartTime)) return {"080000", "140000", {}};
    return {"TALVEK01", "TALVEK03", {}};
}

QList<Probe> RangeProbes(const MatchingRow& row) {
    if (IsKey(row, DCM_ScheduledProcedureStepStartDate))
        return {{"20261203", {"C"}},
                {"20261201-20261202", {"A", "B"}},
                {"20261202-", {"B", "C"}},
                {"-20261201", {"A"}}};
    return {{"0730-1000", {"A", "B"}}, {"1200-", {"C"}}, {"-0900", {"A"}}};
}

// The probes that check the row's claim; each term adds its own.
QList<Probe> ProbesFor(const MatchingRow& row) {
    const KeyValues values = ValuesOf(row);
    QList<Probe> probes{{QString(), kAll}};  // no value: universal matching
    if (row.Has("equal")) probes << Probe{values.a, {"A"}};
    if (row.Has("wildcard")) probes << Probe{values.pattern, {"A", "B"}} << Probe{"*", kAll};
    if (row.Has("list")) probes << Probe{values.a + '\\' + values.c, {"A", "C"}};
    if (row.Has("range")) probes << RangeProbes(row);
    if (row.Has("components"))
        probes << Probe{"SANTOS^MARIA^OTHER", {"A"}} << Probe{"SANTOS", {"A", "B"}}
               << Probe{"^MARIA", {"A", "C"}};
    if (row.Has("case-sensitive")) probes << Probe{values.a.toLower(), {}};
    if (row.Has("no-wildcard")) probes << Probe{values.pattern, {}} << Probe{"*", {}};
    if (row.Has("none")) probes << Probe{values.a, kAll};
    return probes;
}

QString KeyArgument(const MatchingRow& row, const QString& value) {
    DcmTag tag(row.tag.group, row.tag.element);
    const QString key = QString::fromLatin1(tag.getTagName()) + '=' + value;
    return row.inStep ? QStringLiteral("ScheduledProcedureStepSequence[0].") + key : key;
}

// The letters of the orders a query with this key returned.
Letters Returned(int port, const MatchingRow& row, const QString& value, bool& succeeded) {
    QStringList keys{KeyArgument(row, value)};
    if (!IsKey(row, DCM_PatientID)) keys << QStringLiteral("PatientID=");
    if (!row.inStep) keys << QStringLiteral("ScheduledProcedureStepSequence[0].Modality=");
    const FindOutcome outcome = FindScu::Run(port, keys);
    succeeded = outcome.Succeeded();
    Letters letters;
    for (const QString& id : outcome.PatientIds())
        for (const Order& order : kOrders)
            if (order.patientId == id) letters.insert(order.letter);
    EXPECT_EQ(outcome.PatientIds().size(), static_cast<qsizetype>(letters.size()))
        << "a match for an unknown or repeated order";
    return letters;
}

std::string Describe(const Letters& letters) {
    QStringList list(letters.begin(), letters.end());
    return "{" + list.join(',').toStdString() + "}";
}

void CheckMatchingKeys(int port, const QString& mode) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    const QList<MatchingRow> rows = tables.MatchingKeys(mode);
    ASSERT_FALSE(rows.isEmpty());
    for (const MatchingRow& row : rows) {
        for (const Probe& probe : ProbesFor(row)) {
            SCOPED_TRACE(row.Name().toStdString() + " = \"" + probe.value.toStdString() + "\"");
            bool succeeded = false;
            const Letters letters = Returned(port, row, probe.value, succeeded);
            EXPECT_TRUE(succeeded);
            EXPECT_EQ(Describe(letters), Describe(probe.expected));
        }
    }
}

// A query file asking for the attributes of the return-key table, each
// with an empty value at its level, or for none of them.
QString ReturnKeyQuery(const QTemporaryDir& folder, bool askAll) {
    DcmFileFormat file;
    DcmDataset* query = file.getDataset();
    DcmItem* step = nullptr;
    query->findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    const ConformanceTables tables;
    if (askAll)
        for (const ReturnRow& row : tables.ReturnKeys())
            (row.inStep ? step : query)->insertEmptyElement(DcmTag(row.tag.group, row.tag.element));
    const QString path = folder.filePath(askAll ? "all.dcm" : "none.dcm");
    file.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit);
    return path;
}

// Keys of a query, each with its value as bytes in the declared set.
using KeyBytes = std::vector<std::pair<DcmTagKey, QByteArray>>;

// One worklist query declaring the character set (none when empty).
FindOutcome QueryDeclaring(int port, const QTemporaryDir& folder, const QString& declared,
                           const KeyBytes& keys) {
    DcmFileFormat query;
    DcmDataset* dataset = query.getDataset();
    if (!declared.isEmpty())
        dataset->putAndInsertString(DCM_SpecificCharacterSet, declared.toLatin1().constData());
    for (const auto& [tag, value] : keys) dataset->putAndInsertString(tag, value.constData());
    DcmItem* step = nullptr;
    dataset->findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    const QString path =
        folder.filePath(QStringLiteral("query-%1.dcm").arg(declared.isEmpty() ? "none" : declared));
    query.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit);
    FindScu scu(port, {});
    scu.SetQueryFile(path);
    scu.Start();
    return scu.Finish();
}

void CheckReturnKeys(int port, const QString& mode) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    QTemporaryDir folder;
    for (const bool askAll : {true, false}) {
        SCOPED_TRACE(askAll ? "every attribute asked" : "no attribute asked");
        FindScu scu(port, {});
        scu.SetQueryFile(ReturnKeyQuery(folder, askAll));
        scu.Start();
        const FindOutcome outcome = scu.Finish();
        ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        ASSERT_EQ(outcome.matches.size(), 3u);
        // Every match pending with FF01, then success.
        EXPECT_EQ(outcome.statuses, (std::vector<unsigned>{0xFF01, 0xFF01, 0xFF01, 0x0000}));
        for (const auto& match : outcome.matches) {
            DcmDataset& response = *match->getDataset();
            DcmSequenceOfItems* steps = nullptr;
            ASSERT_TRUE(
                response.findAndGetSequence(DCM_ScheduledProcedureStepSequence, steps).good());
            ASSERT_EQ(steps->card(), 1u);
            DcmItem& step = *steps->getItem(0);
            for (const ReturnRow& row : tables.ReturnKeys()) {
                const QString presence = row.byMode[mode];
                const bool expected = presence == "always" || (askAll && presence == "asked");
                const DcmTagKey tag(row.tag.group, row.tag.element);
                EXPECT_EQ(Has(row.inStep ? step : response, tag), expected)
                    << row.Name().toStdString() << " is \"" << presence.toStdString() << "\"";
            }
        }
    }
}

// ---- CORVANTE over SQLite ----

HisOrder CorvanteOrder(const Order& order, int id) {
    HisOrder his;
    his.worklistId = id;
    his.created = order.date + ' ' + order.time;
    his.patientId = order.patientId;
    his.lastName = order.last;
    his.firstName = order.first;
    his.middleName = order.middle;
    his.birthDate = QStringLiteral("1970-01-01");
    his.gender = QStringLiteral("F");
    return his;
}

class ConformanceOnSqlite : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HisDatabase::Create(m_server.HisFile(),
                                        {CorvanteOrder(kOrders[0], 1), CorvanteOrder(kOrders[1], 2),
                                         CorvanteOrder(kOrders[2], 3)}));
        ASSERT_TRUE(m_server.Start());
    }
    void TearDown() override { EXPECT_TRUE(m_server.Stop()); }

    ServerProcess m_server;
};

TEST_F(ConformanceOnSqlite, CorvanteMatchingKeysAsDocumented) {
    CheckMatchingKeys(m_server.Port(), "CORVANTE");
}

TEST_F(ConformanceOnSqlite, CorvanteReturnKeysAsDocumented) {
    CheckReturnKeys(m_server.Port(), "CORVANTE");
}

QString AcceptedTransferSyntax(const FindOutcome& outcome) {
    static const QRegularExpression accepted(QStringLiteral(R"(Accepted Transfer Syntax: =(\w+))"));
    return accepted.match(outcome.output).captured(1);
}

// Explicit VR Little Endian whenever offered, Implicit when it is all the
// peer offers, never Big Endian; no retrieval.
TEST_F(ConformanceOnSqlite, PresentationContextsAsDocumented) {
    const QStringList keys{QStringLiteral("ScheduledProcedureStepSequence[0].Modality=")};
    for (const auto& [option, syntax] :
         {std::pair{"-xb", "LittleEndianExplicit"}, std::pair{"-xe", "LittleEndianExplicit"},
          std::pair{"-xi", "LittleEndianImplicit"}}) {
        SCOPED_TRACE(option);
        const FindOutcome outcome = FindScu::Run(m_server.Port(), keys, {"-W", option});
        EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        EXPECT_EQ(outcome.matches.size(), 3u);
        EXPECT_EQ(AcceptedTransferSyntax(outcome), QString::fromLatin1(syntax));
    }
    QProcess move;
    move.setProcessChannelMode(QProcess::MergedChannels);
    move.start("movescu", {"-d", "-P", "-k", "QueryRetrieveLevel=PATIENT", "127.0.0.1",
                           QString::number(m_server.Port())});
    ASSERT_TRUE(move.waitForFinished(20000));
    const QString output = QString::fromLatin1(move.readAll());
    static const QRegularExpression refused(QStringLiteral(
        R"(\(Abstract Syntax Not Supported\)\s+D:\s+Abstract Syntax: =MOVEPatientRoot)"));
    EXPECT_TRUE(refused.match(output).hasMatch()) << output.toStdString();
    EXPECT_TRUE(EchoSucceeds(m_server.Port()));
}

// The first bytes the server answers a raw association request with.
std::string ReplyTo(int port, const std::string& request) {
    const int socket = ConnectRaw(port);
    if (socket < 0 || !SendAll(socket, request)) return {};
    std::string reply;
    pollfd readable{socket, POLLIN, 0};
    char buffer[64];
    while (reply.size() < 10 && ::poll(&readable, 1, 10000) > 0) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        reply.append(buffer, static_cast<size_t>(got));
    }
    ::close(socket);
    return reply;
}

// The request with one UID exchanged for another of the same length.
std::string Exchanged(std::string pdu, const std::string& uid, const std::string& other) {
    pdu.replace(pdu.find(uid), uid.size(), other);
    return pdu;
}

// An A-ASSOCIATE-RJ as "result source reason", or what came instead.
std::string Rejection(const std::string& reply) {
    if (reply.size() < 10 || reply[0] != '\x03') return "no rejection";
    return std::to_string(reply[7]) + ' ' + std::to_string(reply[8]) + ' ' +
           std::to_string(reply[9]);
}

TEST_F(ConformanceOnSqlite, AssociationPoliciesAsDocumented) {
    // Any calling and called AE title, answered under the called one, by
    // this program's implementation, receiving PDUs of up to 16 KiB.
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    const FindOutcome outcome =
        FindScu::Run(m_server.Port(), {"ScheduledProcedureStepSequence[0].Modality="},
                     {"-W", "-aet", "SOME-MODALITY", "-aec", "ANY-TITLE", "--max-pdu", "131072"});
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    const QString accepted = outcome.output.mid(outcome.output.indexOf("Parameters Negotiated"));
    for (const QString& line :
         {QStringLiteral(R"(Their Implementation Class UID:\s+%1\n)")
              .arg(QRegularExpression::escape(tables.Policy("Implementation Class UID"))),
          QStringLiteral(R"(Their Implementation Version Name:\s+%1\n)")
              .arg(QRegularExpression::escape(tables.Policy("Implementation Version Name"))),
          QStringLiteral(R"(Responding Application Name:\s+ANY-TITLE\n)"),
          QStringLiteral(R"(Their Max PDU Receive Size:\s+16384\n)")})
        EXPECT_TRUE(QRegularExpression(line).match(accepted).hasMatch()) << line.toStdString();

    // Rejected permanently by the service user: another application
    // context (reason 2), or no presentation context that can be accepted
    // (reason 1, no reason given).
    const std::string request = AssociateRequestPdu();
    EXPECT_EQ(Rejection(ReplyTo(m_server.Port(), Exchanged(request, "1.2.840.10008.3.1.1.1",
                                                           "1.2.840.10008.3.1.1.9"))),
              "1 1 2");
    EXPECT_EQ(Rejection(ReplyTo(m_server.Port(),
                                Exchanged(request, "1.2.840.10008.1.1", "1.2.840.10008.1.9"))),
              "1 1 1");
    EXPECT_EQ(Rejection(ReplyTo(m_server.Port(),
                                Exchanged(request, "1.2.840.10008.1.2", "1.2.840.10008.1.8"))),
              "1 1 1")
        << "a context offering only an unknown transfer syntax";
    EXPECT_TRUE(EchoSucceeds(m_server.Port()));
}

// Every documented status code, each from the server: the pending status of
// the default server and of one set to FF00, success, failure and cancel.
TEST_F(ConformanceOnSqlite, StatusCodesAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    ASSERT_FALSE(tables.Statuses().isEmpty());
    // An answer long enough to be under way when the cancel comes.
    constexpr int kLongAnswer = 20000;
    ServerProcess ff00({.resultQueryNumber = QString::number(kLongAnswer),
                        .network = QStringLiteral("PendingStatus=FF00\n")});
    ASSERT_TRUE(HisDatabase::Create(ff00.HisFile(), HisDatabase::OpenOrders(kLongAnswer)));
    ASSERT_TRUE(ff00.Start());
    const QStringList keys = WorklistKeys();
    for (const StatusRow& row : tables.Statuses()) {
        SCOPED_TRACE(QString::number(row.status, 16).toStdString());
        if (row.status == 0xFF01 || row.status == 0x0000) {
            const FindOutcome outcome = FindScu::Run(m_server.Port(), keys);
            EXPECT_EQ(outcome.statuses, (std::vector<unsigned>{0xFF01, 0xFF01, 0xFF01, 0x0000}));
        } else if (row.status == 0xFF00) {
            ProbeAssociation probe(ff00.Port());
            ASSERT_TRUE(probe.Open());
            const FindReply reply = probe.Find();
            EXPECT_EQ(reply.pending, kLongAnswer);
            EXPECT_EQ(reply.pendingStatuses, (std::set<Uint16>{0xFF00}));
            EXPECT_EQ(reply.status, std::optional<Uint16>(0x0000));
            EXPECT_TRUE(probe.Release());
        } else if (row.status == 0xC000) {
            EXPECT_EQ(FindScu::Run(m_server.Port(), keys, {"-S"}).FinalStatus(), 0xC000u);
        } else if (row.status == 0xFE00) {
            const FindOutcome cancelled = FindScu::Run(ff00.Port(), keys, {"-W", "--cancel", "5"});
            EXPECT_EQ(cancelled.FinalStatus(), 0xFE00u)
                << cancelled.output.right(2000).toStdString();
        } else {
            ADD_FAILURE() << "a documented status no probe provokes";
        }
    }
    EXPECT_TRUE(ff00.Stop());
}

// The documented Error Comments the server sends for what a peer can cause:
// each row whose case a query here provokes is checked word for word (the
// unit tests hold the table to the server's full list).
TEST_F(ConformanceOnSqlite, ErrorCommentsAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    const std::map<QString, std::function<QString()>> probes = {
        {"Not a worklist query",
         [&] { return FindScu::Run(m_server.Port(), WorklistKeys(), {"-S"}).ErrorComment(); }},
        {"No Scheduled Procedure Step item in the query",
         [&] { return FindScu::Run(m_server.Port(), {"PatientName="}).ErrorComment(); }},
        {"Query identifier with more than 256 items", [&] {
             ProbeAssociation probe(m_server.Port());
             return probe.Open() ? probe.FindRaw(NestedIdentifier(300)).errorComment : QString();
         }}};
    int probed = 0;
    for (const QString& comment : tables.ErrorComments()) {
        const auto probe = probes.find(comment);
        if (probe == probes.end()) continue;
        ++probed;
        EXPECT_EQ(probe->second(), comment);
    }
    EXPECT_EQ(probed, static_cast<int>(probes.size())) << "a probed Error Comment is undocumented";
}

// Where the ports listen, for every row of the table: a connection to
// 127.0.0.1 and to ::1 is taken exactly where the row says.
TEST(ConformanceOnListenAddresses, ListenAddressesAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    ASSERT_FALSE(tables.ListenAddresses().isEmpty());
    for (const ListenRow& row : tables.ListenAddresses()) {
        SCOPED_TRACE(row.setting.toStdString());
        ServerProcess server({.network = QStringLiteral("ListenAddresses=%1\n").arg(row.setting)});
        ASSERT_TRUE(HisDatabase::Create(server.HisFile(), {}));
        ASSERT_TRUE(server.Start());
        for (const bool ipv6 : {false, true}) {
            const QString any = ipv6 ? QStringLiteral("::") : QStringLiteral("0.0.0.0");
            const QString loopback = ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
            const bool listens = row.addresses.contains(any) || row.addresses.contains(loopback);
            const int socket = ConnectRaw(server.Port(), ipv6);
            EXPECT_EQ(socket >= 0, listens) << loopback.toStdString();
            if (socket >= 0) ::close(socket);
        }
        EXPECT_TRUE(server.Stop());
    }
}

// ---- BRAMWOODS over order files ----

QByteArray OrderLine(const Order& order) {
    QList<QByteArray> fields(29);
    fields[0] = "BWH";
    fields[7] = order.patientId.toLatin1();
    fields[9] = order.Name().toLatin1();
    fields[11] = "19700101";
    fields[12] = "F";
    fields[16] = "1 MAIN ST";
    fields[19] = order.accession.toLatin1();
    fields[21] = "CHEST PA";
    fields[23] = QString(order.date).remove('-').toLatin1();
    return fields.join('|') + "\r\n";
}

class ConformanceOnOrderFiles : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_orders.isValid());
        for (const Order& order : kOrders) {
            QFile file(m_orders.filePath(order.letter + ".HL7"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(OrderLine(order));
        }
        m_server = std::make_unique<ServerProcess>(ServerSettings{
            .modeOption = QStringLiteral("optBramwoods"), .hl7Folder = m_orders.path()});
        ASSERT_TRUE(m_server->Start());
    }
    void TearDown() override {
        if (m_server) EXPECT_TRUE(m_server->Stop());
    }

    QTemporaryDir m_orders;
    std::unique_ptr<ServerProcess> m_server;
};

TEST_F(ConformanceOnOrderFiles, BramwoodsMatchingKeysAsDocumented) {
    CheckMatchingKeys(m_server->Port(), "BRAMWOODS");
}

TEST_F(ConformanceOnOrderFiles, BramwoodsReturnKeysAsDocumented) {
    CheckReturnKeys(m_server->Port(), "BRAMWOODS");
}

// Every row of the character set table: a Latin-1 name in an order file is
// found by a key in the set the query declares, and comes back in the
// encoding the row names, with its character set, unasked.
TEST_F(ConformanceOnOrderFiles, CharacterSetsAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    ASSERT_FALSE(tables.CharacterSets().isEmpty());
    const QByteArray latin1 = QByteArray("PE") + '\xD1' + "A^JOS" + '\xC9' + '^';
    const QString name = QString::fromLatin1(latin1);
    Order pena = kOrders[0];
    pena.patientId = "PD400";
    QList<QByteArray> fields = OrderLine(pena).split('|');
    fields[9] = latin1;
    QFile file(m_orders.filePath("D.HL7"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(fields.join('|'));
    file.close();
    QTemporaryDir folder;
    for (const CharacterSetRow& row : tables.CharacterSets()) {
        SCOPED_TRACE(row.declared.toStdString());
        KeyBytes keys{{DCM_PatientID, "PD400"}};
        if (row.declared == QLatin1String("ISO_IR 192"))
            keys.push_back({DCM_PatientName, name.toUtf8()});
        else if (row.declared.isEmpty() || row.declared == QLatin1String("ISO_IR 100"))
            keys.push_back({DCM_PatientName, latin1});
        else
            keys.push_back({DCM_PatientName, QByteArray()});
        const FindOutcome outcome = QueryDeclaring(m_server->Port(), folder, row.declared, keys);
        ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        ASSERT_EQ(outcome.PatientIds(), QStringList{"PD400"});
        DcmDataset& match = *outcome.matches[0]->getDataset();
        EXPECT_EQ(Value(match, DCM_PatientName), row.utf8 ? name.toUtf8() : latin1);
        EXPECT_EQ(Value(match, DCM_SpecificCharacterSet), row.returned.toLatin1());
    }
}

// The same for names a HIS holds in any script: with UTF-8 declared, Greek
// and Japanese come back intact; otherwise in ISO 8859-1 as always, "?" for
// what it lacks.
TEST(ConformanceOnHisNames, CharacterSetsAsDocumented) {
    const ConformanceTables tables;
    ASSERT_TRUE(tables.Problem().isEmpty()) << tables.Problem().toStdString();
    ASSERT_FALSE(tables.CharacterSets().isEmpty());
    const std::map<QString, QString> names = {{"PG1", QString::fromUtf8("Παπαδοπούλου^Ελένη^")},
                                              {"PJ1", QString::fromUtf8("山田^太郎^")},
                                              {"PL1", QString::fromUtf8("Peña^José^")}};
    QList<HisOrder> orders;
    int id = 1;
    for (const auto& [patientId, name] : names) {
        HisOrder order = HisDatabase::OpenOrders(1, id++).front();
        order.patientId = patientId;
        const QStringList parts = name.split(QLatin1Char('^'));
        order.lastName = parts[0];
        order.firstName = parts[1];
        order.middleName = QString();
        orders << order;
    }
    ServerProcess server;
    ASSERT_TRUE(HisDatabase::Create(server.HisFile(), orders));
    ASSERT_TRUE(server.Start());
    QTemporaryDir folder;
    for (const CharacterSetRow& row : tables.CharacterSets()) {
        SCOPED_TRACE(row.declared.toStdString());
        const FindOutcome outcome = QueryDeclaring(server.Port(), folder, row.declared,
                                                   {{DCM_PatientID, {}}, {DCM_PatientName, {}}});
        ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        ASSERT_EQ(outcome.matches.size(), names.size());
        for (const auto& match : outcome.matches) {
            DcmDataset& dataset = *match->getDataset();
            const QString name = names.at(QString::fromLatin1(Value(dataset, DCM_PatientID)));
            const QByteArray bytes = row.utf8 ? name.toUtf8() : name.toLatin1();
            EXPECT_EQ(Value(dataset, DCM_PatientName), bytes);
            // Unasked, the set is declared only for text beyond ASCII.
            const bool declared =
                !row.declared.isEmpty() || std::any_of(bytes.cbegin(), bytes.cend(), [](char c) {
                    return static_cast<unsigned char>(c) >= 0x80;
                });
            EXPECT_EQ(Value(dataset, DCM_SpecificCharacterSet),
                      declared ? row.returned.toLatin1() : QByteArray());
        }
    }
    EXPECT_TRUE(server.Stop());
}

// ---- ORVELLINE over MariaDB ----

QString WorksheetRows() {
    QString sql;
    for (const Order& o : kOrders)
        sql += QStringLiteral(
                   "INSERT INTO worksheet VALUES ('%1', '%2', '%3', '%4', '%5', 'F', "
                   "'1970-01-01', 7, 'GARCIA', 'LUIS', NULL, '%6', 'X1', 'CHEST PA', '', 0, "
                   "'%7 %8', '%9', '');\n")
                   .arg(o.accession, o.patientId, o.last, o.first, o.middle, o.modality, o.date,
                        o.time, o.institution);
    return sql;
}

class ConformanceOnMariaDb : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_database = std::make_unique<MariaDbServer>();
        QFile schema(QStringLiteral(MWL_SOURCE_DIR "/examples/worksheet.sql"));
        s_ready = s_database->Start() && schema.open(QIODevice::ReadOnly) &&
                  s_database->Run(QString::fromUtf8(schema.readAll()) + WorksheetRows());
        if (!s_ready) return;
        s_server = std::make_unique<ServerProcess>(
            ServerSettings{.modeOption = QStringLiteral("optOrvelline"),
                           .connectionString = s_database->ConnectionString()});
        s_ready = s_server->Start();
    }
    static void TearDownTestSuite() {
        if (s_server && s_server->Running()) EXPECT_TRUE(s_server->Stop());
        s_server.reset();
        if (s_database) s_database->Stop();
        s_database.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_ready) << "MariaDB or the server did not start"; }

    static inline std::unique_ptr<MariaDbServer> s_database;
    static inline std::unique_ptr<ServerProcess> s_server;
    static inline bool s_ready = false;
};

TEST_F(ConformanceOnMariaDb, OrvellineMatchingKeysAsDocumented) {
    CheckMatchingKeys(s_server->Port(), "ORVELLINE");
}

TEST_F(ConformanceOnMariaDb, OrvellineReturnKeysAsDocumented) {
    CheckReturnKeys(s_server->Port(), "ORVELLINE");
}

}  // namespace
