// ORVELLINE mode against a real MariaDB server that the suite starts for
// itself: every key narrows the statement on the server's own terms, values
// cannot leave their literals, and the physician's name arrives as stored.

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QThread>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "e2e/DicomPeer.h"
#include "e2e/HisDatabase.h"
#include "e2e/MariaDbServer.h"
#include "e2e/ServerProcess.h"

namespace {

using Text = std::optional<QString>;  // std::nullopt is SQL NULL

struct Order {
    QString qnumber;
    QString patientId;
    Text lastName;
    Text firstName;
    QString timeStamp;  // "YYYY-MM-DD HH:MM:SS"
    QString modality = QStringLiteral("CR");
    QString branch = QStringLiteral("MAIN1");
    int status = 0;
    std::optional<int> doctorId = 7;
    Text doctorLast = QStringLiteral("GARCIA");
    Text doctorFirst = QStringLiteral("LUIS");
    Text doctorMiddle;
};

QString Literal(const Text& text) {
    if (!text) return QStringLiteral("NULL");
    QString value = *text;
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace('\'', QStringLiteral("''"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

QString Insert(const Order& o) {
    return QStringLiteral(
               "INSERT INTO worksheet VALUES (%1, %2, %3, %4, NULL, 'F', '1980-01-02', %5, %6, "
               "%7, %8, %9, 'X1', 'CHEST PA', '', %10, '%11', %12, '');\n")
        .arg(Literal(o.qnumber), Literal(o.patientId), Literal(o.lastName), Literal(o.firstName),
             o.doctorId ? QString::number(*o.doctorId) : QStringLiteral("NULL"),
             Literal(o.doctorLast), Literal(o.doctorFirst), Literal(o.doctorMiddle),
             Literal(o.modality))
        .arg(o.status)
        .arg(o.timeStamp, Literal(o.branch));
}

// Orders P1 to P60 of SANTOS^ANA, one an hour from 2026-12-01 01:00 to
// 2026-12-03 12:00.
QString HourlyOrders() {
    QString sql;
    for (int n = 1; n <= 60; ++n)
        sql += Insert({QStringLiteral("Q%1").arg(n), QStringLiteral("P%1").arg(n),
                       QStringLiteral("SANTOS"), QStringLiteral("ANA"),
                       QStringLiteral("2026-12-%1 %2:00:00")
                           .arg(1 + n / 24, 2, 10, QLatin1Char('0'))
                           .arg(n % 24, 2, 10, QLatin1Char('0'))});
    return sql;
}

// Accession Q<id>, patient P<id>, on 2026-12-05.
Order ExtraOrder(const char* id, const char* last, Text first, const char* time) {
    return {QStringLiteral("Q") + QString::fromUtf8(id),
            QStringLiteral("P") + QString::fromUtf8(id), QString::fromUtf8(last), std::move(first),
            QStringLiteral("2026-12-05 ") + time};
}

// Orders for single keys, newer than the hourly ones and in this order.
QString ExtraOrders() {
    Order quoted = ExtraOrder("'1", "O'BRIEN", QStringLiteral("D'ARCY"), "10:00:00");
    quoted.modality = QStringLiteral("M'G");
    quoted.branch = QStringLiteral("ST JOHN'S");
    QList<Order> orders{quoted,
                        ExtraOrder("DC1", "DELA CRUZ", QStringLiteral("ANA"), "10:10:00"),
                        ExtraOrder("DC2", "DELA CRUZ", QStringLiteral("ANABEL"), "10:11:00"),
                        ExtraOrder("DC3", "DELA CRUZ", QStringLiteral("BEA"), "10:12:00"),
                        ExtraOrder("MR1", "LIM", QStringLiteral("TOM"), "10:20:01"),
                        ExtraOrder("MR2", "LIM", QStringLiteral("TOM"), "10:20:02")};
    orders[4].modality = orders[5].modality = QStringLiteral("MR");
    Order& doctor =
        orders.emplace_back(ExtraOrder("DOC", "PEÑA", QStringLiteral("JOSÉ"), "10:30:00"));
    doctor.doctorId = 1234;
    doctor.doctorLast = QStringLiteral("DELA CRUZ");
    doctor.doctorFirst = QStringLiteral("JOSE");
    doctor.doctorMiddle = QStringLiteral("MARIA");
    Order& nulls = orders.emplace_back(ExtraOrder("NULL", "SOLO", std::nullopt, "10:40:00"));
    nulls.doctorId.reset();
    nulls.doctorLast = QStringLiteral("HOUSE");
    nulls.doctorFirst.reset();
    orders.emplace_back(ExtraOrder("NORTH", "NORTE", QStringLiteral("ANA"), "10:50:00")).branch =
        QStringLiteral("NORTH");
    orders.emplace_back(ExtraOrder("DONE", "SANTOS", QStringLiteral("ANA"), "11:00:00")).status = 1;
    // Names outside ISO 8859-1, older than every other order.
    orders.emplace_back(ExtraOrder("RU", "Иванов", QStringLiteral("Иван"), "")).timeStamp =
        QStringLiteral("2026-11-01 08:00:00");
    orders.emplace_back(ExtraOrder("JA", "山田", QStringLiteral("太郎"), "")).timeStamp =
        QStringLiteral("2026-11-01 09:00:00");
    QString sql;
    for (const Order& order : orders) sql += Insert(order);
    return sql;
}

testing::AssertionResult CreateWorksheet(const MariaDbServer& database) {
    // The demo's table definition, so the tests and the demo cannot drift apart.
    QFile schema(QStringLiteral(MWL_SOURCE_DIR "/examples/worksheet.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        return testing::AssertionFailure()
               << "examples/worksheet.sql: " << schema.errorString().toStdString();
    return database.Run(QString::fromUtf8(schema.readAll()) + HourlyOrders() + ExtraOrders());
}

ServerSettings Orvelline(const MariaDbServer& database, const QString& institutionBox = {}) {
    return ServerSettings{.modeOption = QStringLiteral("optOrvelline"),
                          .institutionName = institutionBox,
                          .connectionString = database.ConnectionString()};
}

// A query file whose patient's name is in the given character set, as a
// modality sends it (findscu passes the bytes on unchanged).
QString QueryFile(const QTemporaryDir& folder, const char* charset, const char* name) {
    DcmFileFormat file;
    DcmDataset* keys = file.getDataset();
    keys->putAndInsertString(DCM_SpecificCharacterSet, charset);
    keys->putAndInsertString(DCM_PatientName, name);
    keys->putAndInsertString(DCM_PatientID, "");
    DcmItem* step = nullptr;
    keys->findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    step->putAndInsertString(DCM_Modality, "CR");
    const QString path = folder.filePath(QString::fromLatin1(charset).replace('\\', '_') + ".dcm");
    file.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit);
    return path;
}

QStringList Ids(std::initializer_list<int> numbers) {
    QStringList ids;
    for (int n : numbers) ids << QStringLiteral("P%1").arg(n);
    return ids;
}

QStringList IdRange(int newest, int oldest) {
    QStringList ids;
    for (int n = newest; n >= oldest; --n) ids << QStringLiteral("P%1").arg(n);
    return ids;
}

QString StepKey(const QString& key) {
    return QStringLiteral("ScheduledProcedureStepSequence[0].") + key;
}

// The patient IDs a worklist query with these extra keys returns; the query
// must succeed.
QStringList PatientIdsFound(ServerProcess& server, const QStringList& extra) {
    const FindOutcome outcome = FindScu::Run(server.Port(), WorklistKeys(extra));
    EXPECT_TRUE(outcome.Succeeded()) << extra.join(' ').toStdString() << "\n"
                                     << outcome.output.right(2000).toStdString()
                                     << "\nactivity log:\n"
                                     << server.ActivityLog().right(2000).toStdString();
    return outcome.PatientIds();
}

class OrvellineOnMariaDb : public testing::Test {
protected:
    // One database server and one worklist server for the whole suite.
    static void SetUpTestSuite() {
        s_database = std::make_unique<MariaDbServer>();
        s_ready = s_database->Start();
        if (s_ready) s_ready = CreateWorksheet(*s_database);
        if (!s_ready) return;
        s_server = std::make_unique<ServerProcess>(Orvelline(*s_database));
        s_ready = s_server->Start();
    }
    static void TearDownTestSuite() {
        if (s_server && s_server->Running()) EXPECT_TRUE(s_server->Stop());
        s_server.reset();
        if (s_database && s_ready) EXPECT_TRUE(s_database->Stop());
        s_database.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_ready); }

    static QStringList Find(const QStringList& extra) { return PatientIdsFound(*s_server, extra); }

    static inline std::unique_ptr<MariaDbServer> s_database;
    static inline std::unique_ptr<ServerProcess> s_server;
    static inline testing::AssertionResult s_ready = testing::AssertionFailure();
};

// The ORVELLINE statements on both servers the mode speaks to: MariaDB in
// its own dialect, and SQLite (the embedded database) in SQLite's.
class OrvellineHis : public testing::TestWithParam<const char*> {
protected:
    static void TearDownTestSuite() {
        for (auto& [name, server] : s_servers)
            if (server && server->Running()) EXPECT_TRUE(server->Stop());
        s_servers.clear();
        if (s_database) EXPECT_TRUE(s_database->Stop());
        s_database.reset();
        s_sqlite.reset();
    }
    void SetUp() override {
        std::unique_ptr<ServerProcess>& server = s_servers[GetParam()];
        if (!server) server = Start(QString::fromLatin1(GetParam()));
        ASSERT_TRUE(server) << "the " << GetParam() << " HIS did not start";
        s_server = server.get();
    }

    static std::unique_ptr<ServerProcess> Start(const QString& his) {
        if (his == QLatin1String("MariaDB")) {
            s_database = std::make_unique<MariaDbServer>();
            if (!s_database->Start() || !CreateWorksheet(*s_database)) return nullptr;
            auto server = std::make_unique<ServerProcess>(Orvelline(*s_database));
            return server->Start() ? std::move(server) : nullptr;
        }
        s_sqlite = std::make_unique<QTemporaryDir>();
        const QString file = s_sqlite->filePath(QStringLiteral("worksheet.db"));
        QFile schema(QStringLiteral(MWL_SOURCE_DIR "/examples/worksheet.sql"));
        if (!schema.open(QIODevice::ReadOnly)) return nullptr;
        // The table as SQLite takes it: its text has no character set.
        const QString table = QString::fromUtf8(schema.readAll())
                                  .replace(QStringLiteral(" DEFAULT CHARSET = utf8mb4"), QString());
        if (!HisDatabase::Run(file, table + HourlyOrders() + ExtraOrders())) return nullptr;
        ServerSettings settings;
        settings.modeOption = QStringLiteral("optOrvelline");
        settings.connectionString = QStringLiteral("Driver=SQLite3;Database=") + file;
        auto server = std::make_unique<ServerProcess>(settings);
        return server->Start() ? std::move(server) : nullptr;
    }

    static QStringList Find(const QStringList& extra) { return PatientIdsFound(*s_server, extra); }

    static inline std::map<std::string, std::unique_ptr<ServerProcess>> s_servers;
    static inline std::unique_ptr<MariaDbServer> s_database;
    static inline std::unique_ptr<QTemporaryDir> s_sqlite;
    static inline ServerProcess* s_server = nullptr;
};

INSTANTIATE_TEST_SUITE_P(BothServers, OrvellineHis, testing::Values("MariaDB", "SQLite"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace

TEST_F(OrvellineOnMariaDb, AccessionNumbersModalityAndInstitutionNarrow) {
    EXPECT_EQ(Find({"AccessionNumber=Q7"}), Ids({7}));
    EXPECT_EQ(Find({"AccessionNumber=Q7\\Q9\\NOSUCH"}), Ids({9, 7}));
    EXPECT_EQ(Find({"Modality=MR"}), QStringList({"PMR2", "PMR1"}));
    EXPECT_EQ(Find({"InstitutionName=NORTH"}), QStringList({"PNORTH"}));
}

TEST_F(OrvellineOnMariaDb, InstitutionBoxOverridesTheQuerysInstitution) {
    ServerProcess boxed(Orvelline(*s_database, QStringLiteral("MAIN*")));
    ASSERT_TRUE(boxed.Start());
    const FindOutcome outcome =
        FindScu::Run(boxed.Port(), WorklistKeys({"InstitutionName=NORTH", "PatientName=*^ANA"}));
    ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    const QStringList ids = outcome.PatientIds();
    EXPECT_EQ(ids.size(), 50);
    EXPECT_FALSE(ids.contains("PNORTH"));
    EXPECT_EQ(ids.front(), "PDC1");
    EXPECT_TRUE(boxed.Stop());
}

// A second value that tries to close the literal, with or without the
// backslash MySQL would read as an escape, stays a value of its own.
TEST_F(OrvellineOnMariaDb, ASecondValueCannotEndTheLiteral) {
    EXPECT_EQ(Find({"AccessionNumber=Q7\\Q9' OR '1'='1"}), Ids({7}));
    EXPECT_EQ(Find({"PatientID=P8\\' OR 1=1 -- "}), Ids({8}));
    EXPECT_EQ(Find({"Modality=MR\\' OR 1=1 #"}), QStringList({"PMR2", "PMR1"}));
    EXPECT_EQ(Find({"InstitutionName=NORTH\\x' OR 'x'='x"}), QStringList({"PNORTH"}));
    // A name key's values are read as one text, backslash included.
    EXPECT_EQ(Find({"PatientName=SANTOS\\' OR 1=1 #"}), QStringList());
}

TEST_F(OrvellineOnMariaDb, InjectionThroughEveryKeyMatchesOnlyWhatTheKeyMatches) {
    const QStringList keys{"AccessionNumber=",    "PatientID=", "PatientName=",
                           "PatientName=SANTOS^", "Modality=",  "InstitutionName="};
    const QStringList attacks{"Q7' OR '1'='1", "P7' OR 1=1 -- ", "x' OR 1=1 #", "*' OR '1'='1",
                              "x'; DELETE FROM worksheet; -- "};
    for (const QString& key : keys)
        for (const QString& attack : attacks)
            EXPECT_EQ(Find({key + attack}), QStringList()) << (key + attack).toStdString();
    EXPECT_FALSE(s_server->ActivityLog().contains("Query Request error"))
        << s_server->ActivityLog().right(3000).toStdString();
    EXPECT_EQ(Find({}).size(), 50);  // the table is intact

    // Date and time keys must read as a date or a time: the query fails
    // before any statement reaches the server.
    for (const QString& key :
         {QStringLiteral("ScheduledProcedureStepStartDate=20261201' OR '1'='1"),
          QStringLiteral("ScheduledProcedureStepStartTime=03' OR '1'='1")}) {
        const FindOutcome outcome = FindScu::Run(s_server->Port(), WorklistKeys({StepKey(key)}));
        EXPECT_TRUE(outcome.FailedUnableToProcess()) << key.toStdString();
        EXPECT_TRUE(outcome.matches.empty());
    }
    EXPECT_TRUE(s_server->WaitForLog("Type mismatch"));
    EXPECT_FALSE(s_server->ActivityLog().contains("SQL syntax"));
}

// SQL's own wildcards, NUL bytes and a thousand values are text like any
// other; a date that is no date fails the query before any statement runs.
TEST_F(OrvellineOnMariaDb, HostileKeysMatchAsTextAndBadDatesFailCleanly) {
    EXPECT_EQ(Find({"PatientID=%"}), QStringList());
    EXPECT_EQ(Find({"PatientID=P_"}), QStringList());
    EXPECT_EQ(Find({"AccessionNumber=Q%"}), QStringList());
    QStringList thousand;
    for (int i = 1; i < 1000; ++i) thousand << QStringLiteral("X%1").arg(i);
    EXPECT_EQ(Find({"AccessionNumber=" + (thousand << "Q7").join('\\')}), Ids({7}));

    // NUL bytes: padding at the end of a value; inside it, a query that fails
    // without naming the statement.
    QTemporaryDir folder;
    const struct {
        const char* what;
        std::string patientId;
        QStringList ids;  // empty: the query fails
    } nuls[] = {{"padding", std::string("P7\0\0", 4), Ids({7})},
                {"inside", std::string("P7\0X", 4), {}}};
    for (const auto& nul : nuls) {
        SCOPED_TRACE(nul.what);
        DcmFileFormat file;
        file.getDataset()->putAndInsertString(DCM_PatientID, nul.patientId.data(),
                                              static_cast<Uint32>(nul.patientId.size()));
        DcmItem* step = nullptr;
        file.getDataset()->findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
        step->putAndInsertString(DCM_Modality, "CR");
        const QString path = folder.filePath(QString::fromLatin1(nul.what) + ".dcm");
        ASSERT_TRUE(
            file.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit).good());
        FindScu scu(s_server->Port(), {});
        scu.SetQueryFile(path);
        scu.Start();
        const FindOutcome outcome = scu.Finish();
        if (nul.ids.isEmpty()) {
            EXPECT_TRUE(outcome.FailedUnableToProcess())
                << outcome.output.right(2000).toStdString();
            EXPECT_EQ(outcome.ErrorComment(), QStringLiteral("HIS query failed"));
        } else {
            EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
            EXPECT_EQ(outcome.PatientIds(), nul.ids);
        }
    }

    for (const char* date : {"2026-1301", "20261301-"}) {
        SCOPED_TRACE(date);
        const FindOutcome outcome = FindScu::Run(
            s_server->Port(),
            WorklistKeys({StepKey(QStringLiteral("ScheduledProcedureStepStartDate=") + date)}));
        EXPECT_TRUE(outcome.FailedUnableToProcess()) << outcome.output.right(2000).toStdString();
        EXPECT_EQ(outcome.ErrorComment(), QStringLiteral("Invalid date or time in the query"));
    }
    // A range open at both ends narrows nothing.
    EXPECT_EQ(Find({StepKey("ScheduledProcedureStepStartDate=-")}).size(), 50);
    EXPECT_EQ(Find({}).size(), 50);
}

// Names in the HIS are Unicode; a modality asks in its own character set.
// Matches go out in ISO 8859-1, with "?" for what it cannot hold.
TEST_F(OrvellineOnMariaDb, RequestsInOtherCharacterSetsMatchTheirNames) {
    QTemporaryDir folder;
    struct Case {
        const char* charset;
        const char* name;  // the request's bytes
        QString patientId;
        QByteArray returned;
    };
    const Case cases[] = {
        {"ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2^\xB8\xD2\xD0\xDD", "PRU", "??????^????^"},
        {"\\ISO 2022 IR 87", "\x1B$B;3ED\x1B(B^\x1B$BB@O:\x1B(B", "PJA", "??^??^"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charset);
        FindScu scu(s_server->Port(), {});
        scu.SetQueryFile(QueryFile(folder, c.charset, c.name));
        scu.Start();
        const FindOutcome outcome = scu.Finish();
        ASSERT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        ASSERT_EQ(outcome.PatientIds(), QStringList{c.patientId});
        EXPECT_EQ(Value(*outcome.matches[0]->getDataset(), DCM_PatientName), c.returned);
    }
}

// A table another session holds under LOCK TABLES ... WRITE: every modality
// gets its failure within the query time-out (the statement is cancelled on
// the server), is answered once the lock is gone, and a stop during the wait
// ends the program at once.
TEST_F(OrvellineOnMariaDb, ALockedTableFailsEveryModalityWithinTheTimeOut) {
    constexpr int kTimeoutSeconds = 3;
    ServerSettings settings = Orvelline(*s_database);
    settings.queryTimeoutSeconds = kTimeoutSeconds;
    ServerProcess server(settings);
    ASSERT_TRUE(server.Start());
    const QStringList keys = WorklistKeys({QStringLiteral("PatientID=P7")});
    {
        const auto lock = s_database->Session("LOCK TABLES worksheet WRITE; SELECT SLEEP(120);");
        QThread::msleep(300);  // the session has taken the lock
        std::vector<std::thread> modalities;
        std::vector<FindOutcome> outcomes(4);
        std::vector<qint64> elapsed(4);
        for (size_t i = 0; i < outcomes.size(); ++i)
            modalities.emplace_back([&, i] {
                QElapsedTimer timer;
                timer.start();
                outcomes[i] = FindScu::Run(server.Port(), keys);
                elapsed[i] = timer.elapsed();
            });
        for (std::thread& modality : modalities) modality.join();
        for (size_t i = 0; i < outcomes.size(); ++i) {
            EXPECT_EQ(outcomes[i].ErrorComment(), "HIS did not answer in time")
                << outcomes[i].output.right(2000).toStdString();
            EXPECT_LT(elapsed[i], kTimeoutSeconds * 1000 + 2000);
        }
        // A stop while a statement waits for the lock.
        FindScu waiting(server.Port(), keys);
        waiting.Start();
        ASSERT_TRUE(server.WaitForLog("waiting for the HIS"));
        QElapsedTimer timer;
        timer.start();
        server.SendStop();
        EXPECT_TRUE(server.AwaitExit());
        EXPECT_LT(timer.elapsed(), 3000);
        waiting.Finish();
        lock->kill();
        lock->waitForFinished(5000);
    }
    ServerProcess after(Orvelline(*s_database));
    ASSERT_TRUE(after.Start());
    const FindOutcome outcome = FindScu::Run(after.Port(), keys);
    EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
    EXPECT_EQ(outcome.PatientIds(), Ids({7}));
    EXPECT_TRUE(after.Stop());
}

TEST_P(OrvellineHis, NewestFiftyOpenOrdersFirst) {
    const QStringList ids = Find({});
    ASSERT_EQ(ids.size(), 50);
    EXPECT_EQ(ids.mid(0, 4), QStringList({"PNORTH", "PNULL", "PDOC", "PMR2"}));
    EXPECT_FALSE(ids.contains("PDONE"));
    EXPECT_EQ(ids.last(), "P20");
}

TEST_P(OrvellineHis, PatientIdAndNameMatchWithStars) {
    EXPECT_EQ(Find({"PatientID=P1*"}), Ids({19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 1}));
    EXPECT_EQ(Find({"PatientID=P42"}), Ids({42}));
    EXPECT_EQ(Find({"PatientName=DELA*^ANA*"}), QStringList({"PDC2", "PDC1"}));
    EXPECT_EQ(Find({"PatientName=DELA CRUZ^ANA"}), QStringList({"PDC1"}));
    EXPECT_EQ(Find({"PatientName=DELA CRUZ"}), QStringList({"PDC3", "PDC2", "PDC1"}));
    EXPECT_EQ(Find({"PatientName=*^TOM"}), QStringList({"PMR2", "PMR1"}));
}

TEST_P(OrvellineHis, DateAndTimeRangesMatchTheScheduledStart) {
    EXPECT_EQ(Find({StepKey("ScheduledProcedureStepStartDate=20261201"),
                    StepKey("ScheduledProcedureStepStartTime=0300-0530")}),
              Ids({5, 4, 3}));
    // Across midnight: the time range starts on the first day, ends on the last.
    EXPECT_EQ(Find({StepKey("ScheduledProcedureStepStartDate=20261201-20261202"),
                    StepKey("ScheduledProcedureStepStartTime=2200-0100")}),
              Ids({25, 24, 23, 22}));
}

TEST_P(OrvellineHis, ADateWithoutATimeKeyReturnsThatDaysOrders) {
    const FindOutcome outcome = FindScu::Run(
        s_server->Port(), WorklistKeys({StepKey("ScheduledProcedureStepStartDate=20261202")}));
    ASSERT_TRUE(outcome.Succeeded()) << s_server->ActivityLog().right(2000).toStdString();
    EXPECT_EQ(outcome.PatientIds(), IdRange(47, 24));
    for (const auto& match : outcome.matches) {
        DcmItem* step = StepItem(*match->getDataset());
        ASSERT_NE(step, nullptr);
        EXPECT_EQ(Value(*step, DCM_ScheduledProcedureStepStartDate), QByteArray("20261202"));
    }
    EXPECT_EQ(Find({StepKey("ScheduledProcedureStepStartDate=-20261201")}),
              IdRange(23, 1) + QStringList({"PJA", "PRU"}));
}

TEST_P(OrvellineHis, ATimeWithoutADateKeyMatchesThatTimeOnEveryDay) {
    EXPECT_EQ(Find({StepKey("ScheduledProcedureStepStartTime=0300-0330")}), Ids({51, 27, 3}));
    // An open end runs to the end of the day.
    EXPECT_EQ(Find({StepKey("ScheduledProcedureStepStartTime=2230-")}), Ids({47, 23}));
}

TEST_P(OrvellineHis, QuotesInEveryKeyAreMatchedAsText) {
    const QStringList quoted{"P'1"};
    EXPECT_EQ(Find({"AccessionNumber=Q'1"}), quoted);
    EXPECT_EQ(Find({"PatientID=P'1"}), quoted);
    EXPECT_EQ(Find({"PatientName=O'BRIEN^D'ARCY"}), quoted);
    EXPECT_EQ(Find({"PatientName=O'B*^D'*"}), quoted);
    EXPECT_EQ(Find({"Modality=M'G"}), quoted);
    EXPECT_EQ(Find({"InstitutionName=ST JOHN'S"}), quoted);
    EXPECT_EQ(Find({"AccessionNumber=Q'1", "PatientID=P'1", "PatientName=O'BRIEN^D'ARCY",
                    "Modality=M'G", "InstitutionName=ST JOHN'S"}),
              quoted);
}

TEST_P(OrvellineHis, PhysicianNameReadsAsStoredAndNullNamesAsEmpty) {
    const QStringList keys{"ReferringPhysicianName=", StepKey("RequestingPhysician=")};
    const auto only = [&](const char* patientId) {
        FindOutcome outcome = FindScu::Run(
            s_server->Port(),
            WorklistKeys(keys + QStringList{QStringLiteral("PatientID=") + patientId}));
        EXPECT_TRUE(outcome.Succeeded()) << outcome.output.right(2000).toStdString();
        return outcome;
    };
    const FindOutcome doctor = only("PDOC");
    ASSERT_EQ(doctor.matches.size(), 1u);
    DcmDataset& match = *doctor.matches[0]->getDataset();
    EXPECT_EQ(Value(match, DCM_ReferringPhysicianName), QByteArray("1234^DELA CRUZ^JOSE^MARIA"));
    ASSERT_NE(StepItem(match), nullptr);
    EXPECT_EQ(Value(*StepItem(match), DCM_RequestingPhysician),
              QByteArray("1234^DELA CRUZ^JOSE^MARIA"));
    EXPECT_EQ(Value(match, DCM_PatientName), QByteArray("PE\xD1"
                                                        "A^JOS\xC9^"));

    const FindOutcome plain = only("P7");
    ASSERT_EQ(plain.matches.size(), 1u);
    EXPECT_EQ(Value(*plain.matches[0]->getDataset(), DCM_ReferringPhysicianName),
              QByteArray("7^GARCIA^LUIS^"));

    const FindOutcome nulls = only("PNULL");
    ASSERT_EQ(nulls.matches.size(), 1u);
    DcmDataset& empty = *nulls.matches[0]->getDataset();
    EXPECT_EQ(Value(empty, DCM_ReferringPhysicianName), QByteArray("^HOUSE^^"));
    EXPECT_EQ(Value(empty, DCM_PatientName), QByteArray("SOLO^^"));
}
