// Performed procedure steps: the state rules, the values the write-back
// statements are given, the journal on a real SQLite file (also as two
// servers sharing it), and the write-back to the HIS and the order folder.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <dcmtk/dcmdata/dcelem.h>

#include "Fakes.h"
#include "mpps/StepJournal.h"
#include "mpps/StepRecorder.h"
#include "mpps/StepRules.h"
#include "mpps/StepTags.h"
#include "mpps/StepWriteBack.h"
#include "platform/dicom/IdentifierReader.h"
#include "platform/his/OdbcHisConnection.h"

bool operator==(const Tag& a, const Tag& b) { return a.group == b.group && a.element == b.element; }

namespace {

// As the association hands them over: the text in UTF-8.
DicomDataset Received(const DicomDataset& built) {
    return DicomDataset::InUtf8(std::make_unique<DcmDataset>(*built.Root()));
}

// Sequences nested `depth` levels deep, in Implicit VR Little Endian with
// undefined lengths.
std::string Nested(int depth) {
    const std::string open("\x40\x00\x70\x02\xff\xff\xff\xff\xfe\xff\x00\xe0\xff\xff\xff\xff", 16);
    const std::string close("\xfe\xff\x0d\xe0\x00\x00\x00\x00\xfe\xff\xdd\xe0\x00\x00\x00\x00", 16);
    std::string bytes;
    for (int i = 0; i < depth; ++i) bytes += open;
    for (int i = 0; i < depth; ++i) bytes += close;
    return bytes;
}

// An N-CREATE as a modality sends it: two scheduled steps, the second
// without its requested procedure.
StepMessage Create(const QString& uid, const QString& status = QStringLiteral("IN PROGRESS")) {
    StepMessage message;
    message.instanceUid = uid;
    message.callingAeTitle = QStringLiteral("CT01");
    DicomDataset& step = message.attributes;
    for (const char* accession : {"A1", "A2"}) {
        DicomDataset item = step.AddSequenceItem(StepTags::ScheduledStepAttributes);
        item.Add(StepTags::AccessionNumber, QString::fromLatin1(accession));
        item.Add(StepTags::StudyInstanceUid, QStringLiteral("1.2.3.") + accession[1]);
        item.Add(StepTags::ScheduledProcedureStepId, QStringLiteral("S") + accession[1]);
        if (accession[1] == '1') item.Add(StepTags::RequestedProcedureId, QStringLiteral("R1"));
    }
    step.Add(StepTags::PatientName, QStringLiteral("PEÑA^JOSÉ"));
    step.Add(StepTags::PatientId, QStringLiteral("P1"));
    step.Add(StepTags::PerformedStationAeTitle, QStringLiteral("CT01"));
    step.Add(StepTags::PerformedProcedureStepId, QStringLiteral("PPS1"));
    step.Add(StepTags::StartDate, QStringLiteral("20261203"));
    step.Add(StepTags::StartTime, QStringLiteral("0915"));
    step.Add(StepTags::Status, status);
    message.attributes = Received(step);
    return message;
}

StepMessage Set(const QString& uid, const std::optional<QString>& status) {
    StepMessage message;
    message.kind = StepMessage::Kind::Set;
    message.instanceUid = uid;
    message.callingAeTitle = QStringLiteral("CT02");
    if (status) message.attributes.Add(StepTags::Status, *status);
    message.attributes.Add(StepTags::EndDate, QStringLiteral("20261203"));
    message.attributes.Add(StepTags::EndTime, QStringLiteral("093000"));
    message.attributes = Received(message.attributes);
    return message;
}

QString ParameterText(const SqlParameters& parameters) {
    QStringList text;
    for (const auto& [name, value] : parameters)
        text << name + "=" + (value.isNull() ? QStringLiteral("NULL") : value.toString());
    return text.join(", ");
}

}  // namespace

TEST(StepRules, EveryRefusalHasTheStatusTheModalityExpects) {
    EXPECT_FALSE(StepRules::CheckCreate(Create("1.2.3")));
    const auto completed = StepRules::CheckCreate(Create("1.2.3", "COMPLETED"));
    ASSERT_TRUE(completed);
    EXPECT_EQ(completed->status, StepStatus::InvalidAttributeValue);
    EXPECT_EQ(completed->attributeIds, std::vector<Tag>{StepTags::Status});
    StepMessage noStatus = Create("1.2.3");
    delete noStatus.attributes.Root()->remove(DcmTagKey(0x0040, 0x0252));
    EXPECT_EQ(StepRules::CheckCreate(noStatus)->status, StepStatus::MissingAttribute);
    EXPECT_EQ(StepRules::CheckCreate(Create("1.2.x"))->status, StepStatus::InvalidInstance);

    const auto ended = StepRules::CheckSet(StepState::Discontinued, Set("1.2.3", "COMPLETED"));
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->status, StepStatus::ProcessingFailure);
    EXPECT_EQ(ended->errorId, 0xA710);
    EXPECT_EQ(ended->errorComment, "Performed Procedure Step Object may no longer be updated");
    StepMessage identity = Set("1.2.3", std::nullopt);
    identity.attributes.Add(StepTags::PatientId, QStringLiteral("P9"));
    identity.attributes.AddSequenceItem(StepTags::ScheduledStepAttributes);
    const auto forbidden = StepRules::CheckSet(StepState::InProgress, identity);
    ASSERT_TRUE(forbidden);
    EXPECT_EQ(forbidden->status, StepStatus::NoSuchAttribute);
    EXPECT_EQ(forbidden->attributeIds,
              (std::vector<Tag>{StepTags::PatientId, StepTags::ScheduledStepAttributes}));
    EXPECT_EQ(StepRules::CheckSet(StepState::InProgress, Set("1.2.3", "DONE"))->status,
              StepStatus::InvalidAttributeValue);
    EXPECT_FALSE(StepRules::CheckSet(StepState::InProgress, Set("1.2.3", std::nullopt)));
    EXPECT_FALSE(StepRules::CheckSet(StepState::InProgress, Set("1.2.3", "DISCONTINUED")));
}

TEST(PerformedStep, OneSetOfParametersPerScheduledItemWithNullForWhatIsMissing) {
    PerformedStep step;
    step.attributes = Create("1.2.3").attributes;
    step.attributes.Replace(Set("1.2.3", "COMPLETED").attributes);
    EXPECT_EQ(step.Accessions(), QStringList({"A1", "A2"}));
    ASSERT_EQ(step.ScheduledSteps(), 2);
    EXPECT_EQ(ParameterText(step.ItemParameters(0)),
              "AccessionNumber=A1, RequestedProcedureID=R1, ScheduledProcedureStepID=S1, "
              "StudyInstanceUID=1.2.3.1, PerformedProcedureStepID=PPS1, "
              "PerformedStationAETitle=CT01, StartDateTime=2026-12-03 09:15:00, "
              "EndDateTime=2026-12-03 09:30:00");
    EXPECT_EQ(ParameterText(step.ItemParameters(1)).section(", ", 0, 1),
              "AccessionNumber=A2, RequestedProcedureID=NULL");
    // The write-back goes IN PROGRESS first, then the final state.
    step.state = StepState::Completed;
    EXPECT_EQ(step.NextToWrite(), StepState::InProgress);
    step.written = StepState::InProgress;
    EXPECT_EQ(step.NextToWrite(), StepState::Completed);
    step.written = StepState::Completed;
    EXPECT_FALSE(step.WriteBackDue());
}

class StepJournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        connection = "Driver=SQLite3;Database=" + folder.filePath("journal.db");
        StepJournal::CreateFileFor(connection);
        for (auto* db : {&firstDb, &secondDb}) {
            *db = std::make_unique<OdbcHisConnection>(log, connection);
            (*db)->Reopen();
            ASSERT_TRUE((*db)->IsOpen()) << log.Text().toStdString();
        }
        first = std::make_unique<StepJournal>(*firstDb);
        second = std::make_unique<StepJournal>(*secondDb);
        first->Prepare();
        second->Prepare();
    }

    QTemporaryDir folder;
    QString connection;
    FakeLog log;
    SequenceUids uids;
    FixedClock clock;
    std::unique_ptr<OdbcHisConnection> firstDb, secondDb;
    std::unique_ptr<StepJournal> first, second;  // two servers' journals, one database
};

TEST_F(StepJournalTest, StepsAreRecordedMergedAndRefusedByTheirState) {
    StepRecorder recorder(*first, uids, clock);
    const auto created = recorder.Record(Create(QString()));
    ASSERT_TRUE(created.answer.Succeeded());
    const QString uid = created.answer.instanceUid;
    EXPECT_EQ(uid, "1.2.3.1");  // the server gave it one
    EXPECT_EQ(recorder.Record(Create(uid)).answer.status, StepStatus::DuplicateInstance);
    EXPECT_EQ(recorder.Record(Set("9.9", "COMPLETED")).answer.status, StepStatus::NoSuchInstance);
    EXPECT_TRUE(recorder.Record(Set(uid, "COMPLETED")).answer.Succeeded());
    EXPECT_EQ(recorder.Record(Set(uid, "DISCONTINUED")).answer.status,
              StepStatus::ProcessingFailure);

    // What the other server reads back: the N-CREATE's attributes with the
    // N-SET's merged in, the name in UTF-8 whatever it came in.
    const std::optional<PerformedStep> read = second->Find(uid);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->state, StepState::Completed);
    EXPECT_EQ(read->callingAeTitle, "CT01");
    EXPECT_EQ(read->PatientName(), "PEÑA^JOSÉ");
    EXPECT_EQ(read->Accessions(), QStringList({"A1", "A2"}));
    EXPECT_EQ(read->attributes.Item(StepTags::EndDate).Text(), "20261203");
    EXPECT_EQ(read->version, 2);
    EXPECT_FALSE(read->written);
}

// While one server writes IN PROGRESS back, the other records COMPLETED:
// the claim keeps the write-back to one server at a time, and what is due
// follows the state the database holds, not the one the writer read.
TEST_F(StepJournalTest, OneServerAtATimeWritesBackAndNoStateChangeIsLost) {
    StepRecorder(*first, uids, clock).Record(Create("1.2.3"));
    const QDateTime now = clock.now.toUTC();
    EXPECT_EQ(first->Due(now), QStringList{"1.2.3"});
    ASSERT_TRUE(first->Claim("1.2.3", "A", now, std::chrono::seconds(120)));
    EXPECT_FALSE(second->Claim("1.2.3", "B", now, std::chrono::seconds(120)));
    EXPECT_TRUE(second->Due(now).isEmpty());

    PerformedStep stale = *second->Find("1.2.3");
    PerformedStep completed = stale;
    completed.state = StepState::Completed;
    completed.version = stale.version + 1;
    EXPECT_TRUE(second->Update(completed, stale.version));
    EXPECT_FALSE(second->Update(completed, stale.version));  // changed meanwhile

    PerformedStep written = stale;  // as the writer read it: IN PROGRESS
    written.written = StepState::InProgress;
    first->Progress(written, "A");
    first->Release("1.2.3", "A");
    EXPECT_EQ(second->Due(now), QStringList{"1.2.3"});
    EXPECT_EQ(second->Find("1.2.3")->NextToWrite(), StepState::Completed);

    // A claim left by a server that stopped runs out.
    ASSERT_TRUE(first->Claim("1.2.3", "A", now, std::chrono::seconds(120)));
    EXPECT_TRUE(second->Claim("1.2.3", "B", now.addSecs(121), std::chrono::seconds(120)));
    written.written = StepState::Completed;
    second->Progress(written, "B");
    EXPECT_TRUE(second->Due(now.addSecs(1000)).isEmpty());
}

class StepWriteBackTest : public ::testing::Test {
protected:
    StepWriteBackTest() {
        step.instanceUid = QStringLiteral("1.2.3");
        step.attributes = Create("1.2.3").attributes;
        step.state = StepState::Completed;
        step.written = StepState::InProgress;
    }
    QString Run(ConnectionMode mode, StepState state = StepState::Completed) {
        QuerySnapshot snapshot;
        snapshot.mode = mode;
        snapshot.switches.hl7FolderText = orders.path();
        StepWriteBack writeBack(his, orderFiles, settings);
        items.clear();
        return writeBack.Run(step, state, snapshot, budget, [&](int done) { items << done; });
    }
    void WriteOrder(const QString& name, const QString& accession) {
        QFile file(orders.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("BWH|||||||H1||DOE^ANA^||19800102|F|||||||" + accession + "||CT||20261201\r\n")
                       .toLatin1());
    }

    PerformedStep step;
    FakeHis his;
    OrderFileCache orderFiles{false};
    StepSettings settings;
    TestBudget budget;
    QTemporaryDir orders;
    QList<int> items;
};

TEST_F(StepWriteBackTest, TheModesStatementOncePerItemUnlessTheSiteSetsItsOwn) {
    EXPECT_EQ(Run(ConnectionMode::Corvante), "CompletedStatement changed 0 row(s)");
    EXPECT_EQ(his.statements, QStringList(2, "update xray_worklist set is_done=1 where "
                                             "worklistid=:AccessionNumber"));
    EXPECT_EQ(his.parameters[1].first(), qMakePair(QStringLiteral("AccessionNumber"), QVariant("A2")));
    EXPECT_EQ(items, QList<int>({1, 2}));
    // A write-back that stopped after its first item goes on at the second.
    step.writtenItems = 1;
    his.statements.clear();
    Run(ConnectionMode::Corvante);
    EXPECT_EQ(his.statements.size(), 1);
    EXPECT_EQ(items, QList<int>({2}));
    step.writtenItems = 0;

    EXPECT_EQ(Run(ConnectionMode::Pelta), "no CompletedStatement set");
    settings.completedStatement = QStringLiteral("update orders set done=1 where id=:RequestedProcedureID");
    his.statements.clear();
    Run(ConnectionMode::Pelta);
    EXPECT_EQ(his.statements.value(0), *settings.completedStatement);
    settings.completedStatement = QString();
    EXPECT_EQ(Run(ConnectionMode::Corvante), "no CompletedStatement set");

    settings.completedStatement.reset();
    his.failWith = QStringLiteral("[SQLite]database is gone");
    const int reopened = his.reopenCount;
    EXPECT_THROW(Run(ConnectionMode::Corvante), MwlError);
    EXPECT_EQ(his.reopenCount, reopened + 1);
}

TEST_F(StepWriteBackTest, ACompletedStepMovesItsOrderFilesOutOfTheFolder) {
    WriteOrder("ORDER1.HL7", "A1");
    WriteOrder("ORDER2.HL7", "A2");
    WriteOrder("ORDER3.HL7", "B3");
    ASSERT_TRUE(QDir(orders.path()).mkpath("done"));
    QFile(orders.filePath("done/ORDER2.HL7")).open(QIODevice::WriteOnly);  // done before

    EXPECT_EQ(Run(ConnectionMode::Bramwoods, StepState::Discontinued), "order files left in place");
    EXPECT_EQ(OrderFileCache::OrderFiles(orders.path() + "/").size(), 3);
    const QString done = orders.filePath("done/");
    EXPECT_EQ(Run(ConnectionMode::Bramwoods),
              "order file(s) ORDER1.HL7, ORDER2.HL7 (as ORDER2-2.HL7) moved to " + done);
    EXPECT_EQ(OrderFileCache::OrderFiles(orders.path() + "/"), QStringList{"ORDER3.HL7"});
    EXPECT_EQ(QDir(done).entryList(QDir::Files),
              QStringList({"ORDER1.HL7", "ORDER2-2.HL7", "ORDER2.HL7"}));
    EXPECT_TRUE(his.statements.isEmpty());
    EXPECT_EQ(Run(ConnectionMode::Bramwoods), "no order file with accession number A1, A2");
}

// An N-SET lists every image of a study, an item each: thousands of items
// are read (on a stack that holds as many levels), a query's 256 are not.
TEST(StepAttributeList, MayHoldAsManyNestedItemsAsTheStepLimitAllows) {
    const std::string deep = Nested(9000);
    EXPECT_TRUE(IdentifierReader::Parse(deep, EXS_LittleEndianImplicit,
                                        IdentifierReader::kStepLimits)
                    .dataset);
    EXPECT_EQ(IdentifierReader::Parse(deep, EXS_LittleEndianImplicit).refusal,
              FailureKind::IdentifierTooManyItems);
    EXPECT_EQ(IdentifierReader::Parse(Nested(20001), EXS_LittleEndianImplicit,
                                      IdentifierReader::kStepLimits)
                  .refusal,
              FailureKind::IdentifierTooManyItems);
}
