#include <gtest/gtest.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "Fakes.h"
#include "platform/FolderWatch.h"
#include "platform/MwlError.h"
#include "worklist/bramwoods/OrderFileSource.h"
#include "worklist/bramwoods/OrderFile.h"
#include "worklist/bramwoods/OrderFileCache.h"

TEST(CutToken, ReturnsTheTextBeforeTheDelimiterAndKeepsTheRest) {
    QString source = QStringLiteral("BWH|ADT|RAD");
    EXPECT_EQ(CutToken(source, "|"), "BWH");
    EXPECT_EQ(source, "ADT|RAD");
    EXPECT_EQ(CutToken(source, "|"), "ADT");
    EXPECT_EQ(CutToken(source, "|"), "RAD");
    EXPECT_EQ(source, "");
    EXPECT_EQ(CutToken(source, "|"), "");
    EXPECT_EQ(source, "");
}

TEST(CutToken, MatchesLongDelimitersExactly) {
    QString source = QStringLiteral("a||b|c||d");
    EXPECT_EQ(CutToken(source, "||"), "a");
    EXPECT_EQ(source, "b|c||d");
    QString upper = QStringLiteral("xAby");
    EXPECT_EQ(CutToken(upper, "ab"), "xAby");
    EXPECT_EQ(upper, "");
}

TEST(CutToken, HasNoPositionLimit) {
    QString source = QString(40000, QLatin1Char('x')) + "|tail";
    EXPECT_EQ(CutToken(source, "|").size(), 40000);
    EXPECT_EQ(source, "tail");
}

TEST(OrderFields, NumbersFieldsFromOneAndPadsShortLines) {
    const OrderFields single(QStringLiteral("left|right"));
    EXPECT_EQ(single.Field(1), "left");
    EXPECT_EQ(single.Field(2), "right");
    EXPECT_EQ(single.Field(29), "");
    QStringList many;
    for (int i = 1; i <= 35; ++i) many << QString::number(i);
    const OrderFields full(many.join('|'));
    EXPECT_EQ(full.Field(20), "20");
    EXPECT_EQ(full.Field(29), "29");
}

TEST(OrderFileText, ReadsOnlyTheFirstLineUpToAnyLineEnd) {
    QTemporaryDir dir;
    // Written a while ago, unless said otherwise.
    auto write = [&](const char* name, const QByteArray& bytes, int secondsAgo = 10) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.flush();
        file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                         QFileDevice::FileModificationTime);
        return dir.filePath(name);
    };
    auto firstLine = [](const QString& path) { return ReadFirstLine(path).bytes; };
    EXPECT_EQ(firstLine(write("crlf.HL7", "a|b\r\nsecond\r\n")), "a|b");
    EXPECT_EQ(firstLine(write("lf.HL7", "a|b\nsecond")), "a|b");
    EXPECT_EQ(firstLine(write("cr.HL7", "a|b\rsecond")), "a|b");
    EXPECT_EQ(firstLine(write("noend.HL7", "a|b")), "a|b");
    EXPECT_EQ(firstLine(write("blank.HL7", "\r\nsecond")), "");
    EXPECT_THROW(firstLine(write("empty.HL7", "")), MwlError);
    // A line is read up to 64 KB; a longer one is refused by the file's name.
    const QByteArray limit(kMaxFirstLineBytes, 'x');
    EXPECT_EQ(firstLine(write("limit.HL7", limit)), limit);
    EXPECT_EQ(firstLine(write("limitcrlf.HL7", limit + "\r\n" + limit + limit)), limit);
    EXPECT_EQ(firstLine(write("shortcr.HL7", "a|b\r" + limit + limit)), "a|b");
    const auto refusal = [](const QString& path) {
        try {
            ReadFirstLine(path);
        } catch (const MwlError& error) {
            return error.Description();
        }
        return QStringLiteral("read");
    };
    EXPECT_TRUE(refusal(write("long.HL7", limit + "x\r\n"))
                    .contains("long.HL7: its first line is longer than 65536"));
    EXPECT_TRUE(refusal(dir.filePath("missing.HL7")).contains("missing.HL7"));
    // A first line without a line end that changed just now may be cut short
    // by a writer that is not done: it is not read yet. One with its line end
    // is whole, however new.
    EXPECT_TRUE(refusal(write("fresh.HL7", "a|b", 0))
                    .endsWith("fresh.HL7: it is still being written (its first line has no line "
                              "end and it changed less than a second ago)"));
    EXPECT_EQ(firstLine(write("freshcrlf.HL7", "a|b\r\n", 0)), "a|b");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.HL7"));
    EXPECT_TRUE(refusal(dir.filePath("folder.HL7")).endsWith("folder.HL7: it is a directory"));
    ASSERT_TRUE(QFile::link(dir.filePath("nowhere"), dir.filePath("dangling.HL7")));
    EXPECT_TRUE(refusal(dir.filePath("dangling.HL7"))
                    .endsWith("dangling.HL7: it is a symbolic link to nothing"));
}

TEST(OrderFileText, ValidUtf8IsReadAsUtf8AndEverythingElseAsLatin1) {
    EXPECT_EQ(DecodeOrderLine("PE\xC3\x91"
                              "A^JOS\xC3\x89"),
              QString::fromUtf8("PEÑA^JOSÉ"));
    EXPECT_EQ(DecodeOrderLine("PE\xD1"
                              "A^JOS\xC9"),
              QString::fromUtf8("PEÑA^JOSÉ"));
    EXPECT_EQ(DecodeOrderLine("M\xDCLLER\xA0"), QString::fromUtf8("MÜLLER\u00A0"));
    EXPECT_EQ(DecodeOrderLine("PLAIN"), "PLAIN");
}

TEST(Hl7Folder, GetsOneTrailingSeparator) {
    EXPECT_EQ(OrderFileSource::FolderOf("/srv/orders"), "/srv/orders/");
    EXPECT_EQ(OrderFileSource::FolderOf("/srv/orders/"), "/srv/orders/");
    EXPECT_EQ(OrderFileSource::FolderOf("C:\\orders\\"), "C:\\orders\\");
    EXPECT_EQ(OrderFileSource::FolderOf(""), "/");
}

namespace {

// Written a while ago: a first line without a line end is read at once.
void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.flush();
    file.setFileTime(QDateTime::currentDateTime().addSecs(-10), QFileDevice::FileModificationTime);
}

}  // namespace

// Both ways of keeping the folder up to date: the kernel's reports (where
// the file system gives them) and examining every file at every query.
class OrderFileCacheTest : public testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Revalidation, OrderFileCacheTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "KernelReports" : "EveryFileExamined";
                         });

// Every change shows at the next query: a rewrite of the same size, a
// replacement with the same size and time, a removal, a new file; so do
// writes the folder's watch cannot see, through another hard link or to the
// target of a symbolic link. An unchanged file is served from the cache.
TEST_P(OrderFileCacheTest, SeesEveryChangeAtTheNextQuery) {
    QTemporaryDir dir, elsewhere;
    const QString folder = dir.path() + "/";
    const QString path = dir.filePath("A.HL7");
    OrderFileCache cache(GetParam());
    auto field = [&](const QString& name) {
        const OrderFileCache::Listing listing = cache.List(folder);
        return cache.Item(listing, name)->Fields().Field(2);
    };
    WriteFile(path, "one|first");
    WriteFile(elsewhere.filePath("linked"), "one|linked");
    ASSERT_TRUE(QFile::link(elsewhere.filePath("linked"), dir.filePath("S.HL7")));
    WriteFile(elsewhere.filePath("hard"), "one|hard");
    ASSERT_EQ(::link(QFile::encodeName(elsewhere.filePath("hard")).constData(),
                     QFile::encodeName(dir.filePath("H.HL7")).constData()),
              0);
    OrderFileCache::Listing listing = cache.List(folder);
    EXPECT_EQ(listing.names, (QStringList{"A.HL7", "H.HL7", "S.HL7"}));
    const auto first = cache.Item(listing, "A.HL7");
    EXPECT_EQ(first->Fields().Field(2), "first");
    for (int query = 0; query < 2; ++query) {
        listing = cache.List(folder);
        EXPECT_EQ(cache.Item(listing, "A.HL7"), first);  // unchanged: from the cache
        EXPECT_EQ(cache.Item(listing, "H.HL7")->Fields().Field(2), "hard");
        EXPECT_EQ(cache.Item(listing, "S.HL7")->Fields().Field(2), "linked");
    }

    // Same size, new content and a new modification time.
    WriteFile(path, "one|again");
    QFile touched(path);
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(-5),
                                    QFileDevice::FileModificationTime));
    touched.close();
    EXPECT_EQ(field("A.HL7"), "again");

    // Replaced by another file of the same size and time: a new identity.
    const QString other = dir.filePath("B.tmp");
    WriteFile(other, "one|third");
    QFile replacement(other);
    ASSERT_TRUE(replacement.open(QIODevice::ReadWrite));
    replacement.setFileTime(QFileInfo(path).lastModified(), QFileDevice::FileModificationTime);
    replacement.close();
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(other, path));
    EXPECT_EQ(field("A.HL7"), "third");

    // Written where the folder's watch does not look.
    WriteFile(elsewhere.filePath("hard"), "one|HARD");
    WriteFile(elsewhere.filePath("linked"), "one|LINKED");
    EXPECT_EQ(field("H.HL7"), "HARD");
    EXPECT_EQ(field("S.HL7"), "LINKED");

    WriteFile(dir.filePath("C.HL7"), "one|new");
    EXPECT_EQ(cache.List(folder).names, (QStringList{"A.HL7", "C.HL7", "H.HL7", "S.HL7"}));
    ASSERT_TRUE(QFile::remove(path));
    listing = cache.List(folder);
    EXPECT_EQ(listing.names, (QStringList{"C.HL7", "H.HL7", "S.HL7"}));
    EXPECT_THROW(cache.Item(listing, "A.HL7"), MwlError);

    // A query still running when the folder setting changes keeps reading
    // its own folder, not the same names in the new one.
    WriteFile(elsewhere.filePath("C.HL7"), "one|elsewhere");
    const OrderFileCache::Listing moved = cache.List(elsewhere.path() + "/");
    EXPECT_EQ(cache.Item(moved, "C.HL7")->Fields().Field(2), "elsewhere");
    EXPECT_EQ(cache.Item(listing, "C.HL7")->Fields().Field(2), "new");
    EXPECT_EQ(cache.Item(moved, "C.HL7")->Fields().Field(2), "elsewhere");
}

TEST(FolderWatch, NetworkAndUserSpaceFileSystemsAreNotTrustedToReportChanges) {
    for (const unsigned long local : {0xEF53ul, 0x58465342ul, 0x9123683Eul, 0x01021994ul})
        EXPECT_TRUE(FolderWatch::ReportsEveryChange(local)) << std::hex << local;
    // NFS, SMB/CIFS, SMB2, FUSE, Ceph, 9p.
    for (const unsigned long remote :
         {0x6969ul, 0xFF534D42ul, 0xFE534D42ul, 0x65735546ul, 0x00C36400ul, 0x01021997ul})
        EXPECT_FALSE(FolderWatch::ReportsEveryChange(remote)) << std::hex << remote;
}

// The kernel's report: nothing known at first, then exactly what changed,
// and nothing known again once the folder at the path is another one.
TEST(FolderWatch, ReportsWhatChangedUntilTheFolderIsReplaced) {
    QTemporaryDir parent;
    const QString folder = parent.filePath("orders");
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteFile(folder + "/A.HL7", "a");
    FolderWatch watch;
    EXPECT_FALSE(watch.Look(folder).known);
    FolderWatch::Changes quiet = watch.Look(folder);
    if (!quiet.known)
        GTEST_SKIP() << "no change reports here: " << watch.Description().toStdString();
    EXPECT_FALSE(quiet.namesChanged);
    EXPECT_TRUE(quiet.names.isEmpty());

    WriteFile(folder + "/A.HL7", "again");
    const FolderWatch::Changes written = watch.Look(folder);
    EXPECT_TRUE(written.known);
    EXPECT_FALSE(written.namesChanged);
    EXPECT_EQ(written.names, QSet<QString>{"A.HL7"});

    ASSERT_TRUE(QFile::rename(folder + "/A.HL7", folder + "/B.HL7"));
    const FolderWatch::Changes renamed = watch.Look(folder);
    EXPECT_TRUE(renamed.known && renamed.namesChanged);
    EXPECT_EQ(renamed.names, (QSet<QString>{"A.HL7", "B.HL7"}));

    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_FALSE(watch.Look(folder).known);
    EXPECT_TRUE(watch.Look(folder).known);
    EXPECT_FALSE(watch.Look(parent.path()).known);  // another folder
}

TEST(ListHL7Folder, ListsPathsAndLogsFirstLinesUntilAFileCannotBeRead) {
    QTemporaryDir dir;
    WriteFile(dir.filePath("A.HL7"), "BWH|first\r\nsecond");
    WriteFile(dir.filePath("B.HL7"), "");
    WriteFile(dir.filePath("C.HL7"), "BWH|third");
    WriteFile(dir.filePath("notes.txt"), "ignored");
    FakeLog log;
    QString listing;
    QStringList messages;
    OrderFileSource::ListHL7Folder(
        dir.path(), log, [&](const QString& text) { listing += text; },
        [&](const QString& text) { messages << text; });
    const QString folder = dir.path() + "/";
    EXPECT_EQ(listing, "\r\nstarting\r\n" + folder + "A.HL7\r\n" + folder + "B.HL7");
    EXPECT_EQ(log.Text(), "BWH|first\r\n");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("B.HL7"));

    ASSERT_TRUE(QFile::remove(dir.filePath("B.HL7")));
    listing.clear();
    OrderFileSource::ListHL7Folder(
        dir.path(), log, [&](const QString& text) { listing += text; }, [](const QString&) {});
    EXPECT_TRUE(listing.endsWith(folder + "C.HL7\r\ndone"));

    // A folder that is not there is said to be so, not listed as empty.
    listing.clear();
    OrderFileSource::ListHL7Folder(
        dir.filePath("gone"), log, [&](const QString& text) { listing += text; },
        [&](const QString& text) { messages << text; });
    EXPECT_EQ(listing, "\r\nstarting");
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[1], "Order folder " + dir.filePath("gone") +
                               "/ cannot be read: No such file or directory");
}

TEST(OrderFileSource, StopsAtTheNextFileOnceTheQueryIsAbandoned) {
    QTemporaryDir dir;
    for (const char* name : {"A.HL7", "B.HL7", "C.HL7"})
        WriteFile(dir.filePath(name), QByteArray(name) + "|||||||P1");
    FakeServices fake;
    fake.switches.hl7FolderText = dir.path();
    const QuerySnapshot settings = fake.Snapshot();
    const OrderFileSource source;
    const auto run = [&](FakeQueryConnection& connection) {
        const RequestKeys keys{connection.request, *connection.request.SequenceItem(Tags::StepSequence),
                               QString()};
        QueryRun query{connection, keys, settings, fake.log, fake.resources};
        return source.Answer(query);
    };
    FakeQueryConnection connection(MakeRequest({}, {}));
    connection.abandonAfter = 1;
    EXPECT_FALSE(run(connection));
    EXPECT_EQ(connection.pending.size(), 1u);
    EXPECT_FALSE(fake.log.Text().contains("Completed."));

    FakeQueryConnection whole(MakeRequest({}, {}));
    EXPECT_TRUE(run(whole));
    EXPECT_EQ(whole.pending.size(), 3u);
}

// An order file whose fields break every rule goes out legal, with the step
// keys a modality needs, the same Study Instance UID at every query, and one
// log line per changed attribute; a UTF-8 query gets the file's Greek intact.
TEST(OrderFileSource, HostileOrderGoesOutLegalWithItsStepKeys) {
    QTemporaryDir dir;
    QList<QByteArray> fields(29);
    fields[7] = "P\\1";
    fields[9] = QString::fromUtf8("ΠΑΠΑΔΟΠΟΥΛΟΥ^ΕΛΕΝΗ^^^^^EXTRA").toUtf8();
    fields[11] = "19800231";
    fields[12] = "male";
    fields[19] = QByteArray(30, '7');
    fields[21] = "CHEST" + QByteArray("\x01\x1b", 2);
    fields[23] = "20261203";
    WriteFile(dir.filePath("A.HL7"), fields.join('|'));
    FakeServices fake;
    fake.switches.hl7FolderText = dir.path();
    const QuerySnapshot settings = fake.Snapshot();
    const OrderFileSource source;
    const auto answer = [&](const char* characterSet) {
        DicomDataset request = MakeRequest(
            {Tags::SpecificCharacterSet, Tags::PatientName, Tags::PatientBirthDate,
             Tags::PatientSex, Tags::StudyInstanceUid, Tags::RequestedProcedureId},
            {Tags::ScheduledStationAeTitle, Tags::StepStartDate, Tags::StepStartTime, Tags::StepId},
            "mr");
        request.Add(Tags::SpecificCharacterSet, QString::fromLatin1(characterSet));
        request.SequenceItem(Tags::StepSequence)->Add(Tags::ScheduledStationAeTitle, "CT_ROOM1");
        FakeQueryConnection connection(request);
        const RequestKeys keys{request, *request.SequenceItem(Tags::StepSequence), "mr"};
        QueryRun query{connection, keys, settings, fake.log, fake.resources};
        EXPECT_TRUE(source.Answer(query));
        EXPECT_EQ(connection.pending.size(), 1u);
        return connection.pending.empty() ? DicomDataset() : connection.pending[0];
    };
    const DicomDataset latin1 = answer("ISO_IR 100");
    const DicomDataset utf8 = answer("ISO_IR 192");

    EXPECT_EQ(latin1.Item(Tags::SpecificCharacterSet).Text(), "ISO_IR 100");
    EXPECT_EQ(utf8.Item(Tags::SpecificCharacterSet).Text(), "ISO_IR 192");
    EXPECT_EQ(utf8.Item(Tags::PatientName).Text(), QString::fromUtf8("ΠΑΠΑΔΟΠΟΥΛΟΥ^ΕΛΕΝΗ^^^EXTRA"));
    EXPECT_EQ(latin1.Item(Tags::PatientName).Text(), "????????????^?????^^^EXTRA");
    EXPECT_EQ(latin1.Item(Tags::AccessionNumber).Text(), QString(16, QLatin1Char('7')));
    EXPECT_EQ(latin1.Item(Tags::PatientId).Text(), "P/1");
    EXPECT_TRUE(latin1.Contains(Tags::PatientBirthDate));
    EXPECT_EQ(latin1.Item(Tags::PatientBirthDate).Text(), "");
    EXPECT_EQ(latin1.Item(Tags::PatientSex).Text(), "M");
    EXPECT_EQ(latin1.Item(Tags::SeriesDescription).Text(), "CHEST");
    EXPECT_EQ(latin1.Item(Tags::RequestedProcedureId).Text(), QString(16, QLatin1Char('7')));
    const QString uid = latin1.Item(Tags::StudyInstanceUid).Text();
    EXPECT_TRUE(uid.startsWith("2.25.")) << uid.toStdString();
    EXPECT_EQ(utf8.Item(Tags::StudyInstanceUid).Text(), uid) << "the same order, the same UID";
    const DicomDataset step = *latin1.SequenceItem(Tags::StepSequence);
    EXPECT_EQ(step.Item(Tags::Modality).Text(), "MR");
    EXPECT_EQ(step.Item(Tags::ScheduledStationAeTitle).Text(), "CT_ROOM1");
    EXPECT_EQ(step.Item(Tags::StepId).Text(), QString(16, QLatin1Char('7')));
    EXPECT_EQ(step.Item(Tags::StepStartDate).Text(), "20261203");
    EXPECT_EQ(step.Item(Tags::StepStartTime).Text(), "000000");

    // Per query, one line per order and attribute; the values stay out.
    const QString log = fake.log.Text();
    EXPECT_EQ(log.count("Order file A.HL7: AccessionNumber (0008,0050), SH: cut to its maximum "
                        "length."),
              2);
    for (const char* attribute :
         {"PatientID", "PatientName", "PatientBirthDate", "PatientSex", "SeriesDescription",
          "RequestedProcedureID", "ScheduledProcedureStepID"})
        EXPECT_EQ(log.count(QStringLiteral("Order file A.HL7: %1 ").arg(attribute)), 2)
            << attribute;
    EXPECT_FALSE(log.contains("male"));
}
