#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <ctime>

#include "platform/IsoTimeText.h"
#include "platform/LogFile.h"

namespace {

const QRegularExpression kStampedLine(
    QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (.*)$)"));

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith('\n')) << path.toStdString();
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
}

// The text of every line, each checked to carry its time stamp.
QStringList Texts(const QStringList& lines) {
    QStringList texts;
    for (const QString& line : lines) {
        const auto match = kStampedLine.match(line);
        EXPECT_TRUE(match.hasMatch()) << line.toStdString();
        texts << match.captured(1);
    }
    return texts;
}

std::vector<LogLine> Lines(int from, int count) {
    std::vector<LogLine> lines;
    for (int i = from; i < from + count; ++i)
        lines.push_back({1796281689000 + i, QStringLiteral("3.12.2026 07:08:09"),
                         QStringLiteral("sending.PE\u00d1A^JOS\u00c9^ %1").arg(i, 4)});
    return lines;
}

class ScopedZone {
public:
    explicit ScopedZone(const char* zone) : m_saved(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedZone() {
        if (m_saved.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_saved);
        tzset();
    }

private:
    QByteArray m_saved;
};

}  // namespace

TEST(IsoTimeText, LocalTimeWithMillisecondsAndItsOffset) {
    IsoTimeText text;
    {
        ScopedZone zone("UTC");
        EXPECT_EQ(text.Of(1796281689007), "2026-12-03T07:08:09.007+00:00");
    }
    {
        ScopedZone zone("Asia/Kolkata");
        IsoTimeText kolkata;
        EXPECT_EQ(kolkata.Of(1796281689123), "2026-12-03T12:38:09.123+05:30");
        EXPECT_EQ(kolkata.Of(1796281689999), "2026-12-03T12:38:09.999+05:30");
        EXPECT_EQ(kolkata.Of(1796281690000), "2026-12-03T12:38:10.000+05:30");
    }
    {
        ScopedZone zone("America/St_Johns");
        IsoTimeText newfoundland;
        EXPECT_EQ(newfoundland.Of(1796281689000), "2026-12-03T03:38:09.000-03:30");
    }
}

// Lines in UTF-8 with the stamp in front, the window's stamp left out; when
// the next line would pass the limit the files move up by one, the oldest
// beyond the number kept goes, and no line is lost, doubled or cut.
TEST(LogFile, WholeStampedLinesRotatedBySizeKeepingTheConfiguredFiles) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QStringList reports;
    LogFile file({folder.filePath("logs"), 1000, 3}, [&](const QString& line) { reports << line; });
    ASSERT_EQ(file.Open(), std::nullopt);
    EXPECT_EQ(file.Path(), folder.filePath("logs/talvek-mwl.log"));
    for (int batch = 0; batch < 10; ++batch) file.Write(Lines(batch * 10, 10));

    const QDir logs(folder.filePath("logs"));
    EXPECT_EQ(logs.entryList(QDir::Files, QDir::Name),
              (QStringList{"talvek-mwl.log", "talvek-mwl.log.1", "talvek-mwl.log.2"}));
    QStringList texts;
    for (const char* name : {"talvek-mwl.log.2", "talvek-mwl.log.1", "talvek-mwl.log"}) {
        EXPECT_LE(QFile(logs.filePath(name)).size(), 1000) << name;
        texts += Texts(FileLines(logs.filePath(name)));
    }
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_EQ(texts.last(), QStringLiteral("sending.PE\u00d1A^JOS\u00c9^   99"));
    const int first = 100 - static_cast<int>(texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i)
        ASSERT_EQ(
            texts[i],
            QStringLiteral("sending.PE\u00d1A^JOS\u00c9^ %1").arg(first + static_cast<int>(i), 4));
    EXPECT_TRUE(reports.isEmpty()) << reports.join('\n').toStdString();

    // Kept at one file, the file starts afresh.
    LogFile single({folder.filePath("one"), 500, 1}, [](const QString&) {});
    ASSERT_EQ(single.Open(), std::nullopt);
    for (int batch = 0; batch < 5; ++batch) single.Write(Lines(batch * 5, 5));
    EXPECT_EQ(QDir(folder.filePath("one")).entryList(QDir::Files), QStringList{"talvek-mwl.log"});
    EXPECT_EQ(Texts(FileLines(single.Path())).last(),
              QStringLiteral("sending.PE\u00d1A^JOS\u00c9^   24"));
}

// A folder that cannot exist (its parent is a file) is named with the
// reason; the lines meanwhile are lost without harm, and once the folder can
// be made the file is written again and says so.
TEST(LogFile, UnwritableFolderIsReportedAndTriedAgain) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile blocker(folder.filePath("plain"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QStringList reports;
    LogFile file({folder.filePath("plain/logs"), 1000, 3, 50},
                 [&](const QString& line) { reports << line; });
    const auto why = file.Open();
    ASSERT_TRUE(why.has_value());
    EXPECT_TRUE(why->startsWith("Cannot write the activity log file " +
                                folder.filePath("plain/logs/talvek-mwl.log") + ": "))
        << why->toStdString();
    EXPECT_TRUE(why->contains("The server goes on serving")) << why->toStdString();
    file.Write(Lines(0, 3));

    ASSERT_TRUE(QFile::remove(folder.filePath("plain")));
    QThread::msleep(80);
    file.Write(Lines(3, 2));
    EXPECT_EQ(reports,
              QStringList{"The activity log file " + folder.filePath("plain/logs/talvek-mwl.log") +
                          " is written again."});
    EXPECT_EQ(Texts(FileLines(file.Path())),
              (QStringList{QStringLiteral("sending.PE\u00d1A^JOS\u00c9^    3"),
                           QStringLiteral("sending.PE\u00d1A^JOS\u00c9^    4")}));
}

// A full disk cuts a write short inside a line: that part is taken back out
// of the file, so once it can be written again every line in it is whole.
TEST(LogFile, ALineCutShortByAFullDiskLeavesNoPartOfItBehind) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QStringList reports;
    LogFile file({folder.path(), 1024 * 1024, 2, 0}, [&](const QString& line) { reports << line; });
    ASSERT_FALSE(file.Open());
    file.Write(Lines(0, 3));
    const qint64 whole = QFileInfo(file.Path()).size();

    // The file may grow by 20 bytes only: the next line is cut inside.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit cut{static_cast<rlim_t>(whole + 20), saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cut), 0);
    file.Write(Lines(3, 2));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(QFileInfo(file.Path()).size(), whole);

    file.Write(Lines(5, 2));
    QStringList expected;
    for (const int i : {0, 1, 2, 5, 6}) expected << Lines(i, 1).front().text;
    EXPECT_EQ(Texts(FileLines(file.Path())), expected);
    ASSERT_EQ(reports.size(), 2);
    EXPECT_TRUE(reports[0].startsWith("Cannot write the activity log file "))
        << reports[0].toStdString();
    EXPECT_EQ(reports[1], "The activity log file " + file.Path() + " is written again.");
}

// After SIGHUP the file is opened again by its name: an outside tool that
// moved it away finds the next lines in a new file.
TEST(LogFile, ReopenedAfterAnOutsideToolMovedItAway) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    LogFile file({folder.path(), 1024 * 1024, 2, 0}, [](const QString&) {});
    ASSERT_FALSE(file.Open());
    file.Write(Lines(0, 2));
    ASSERT_TRUE(QFile::rename(file.Path(), file.Path() + ".moved"));
    file.Write(Lines(2, 1));
    file.RequestReopen();
    file.Write(Lines(3, 1));
    EXPECT_EQ(Texts(FileLines(file.Path() + ".moved")).size(), 3);
    EXPECT_EQ(Texts(FileLines(file.Path())), QStringList{Lines(3, 1).front().text});
}
