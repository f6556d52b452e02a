#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include "platform/MakePath.h"

namespace {

QStringList Tree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

}  // namespace

TEST(MakePath, CreatesEveryMissingFolderButNeverTheLastPart) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    MakePath(root.path() + "/a/b/c/program");
    EXPECT_EQ(Tree(root.path()), (QStringList{"a", "a/b", "a/b/c"}));

    // Existing folders: nothing new, nothing reported.
    MakePath(root.path() + "/a/b/program");
    MakePath(root.path() + "/a/b/c/");
    EXPECT_EQ(Tree(root.path()), (QStringList{"a", "a/b", "a/b/c"}));

    // A file where a folder should be is passed over silently.
    QFile blocker(root.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    MakePath(root.path() + "/file/x/program");
    MakePath("program");
    EXPECT_EQ(Tree(root.path()), (QStringList{"a", "a/b", "a/b/c", "file"}));
}
