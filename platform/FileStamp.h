#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// What identifies one version of a file: the file itself (device and inode),
// its size and its modification time to the nanosecond. Any write, rename
// over or replacement changes at least one of them.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    bool operator==(const FileStamp&) const = default;
    // The same file, whatever was written to it since.
    bool SameFile(const FileStamp& other) const {
        return device == other.device && inode == other.inode;
    }
};

// The stamp of the file at the path (following symbolic links); nothing when
// it cannot be examined.
std::optional<FileStamp> FileStampOf(const QString& path);

// An open folder whose files are examined by name, without walking the
// folder's path again for every file.
class FolderStamps {
public:
    explicit FolderStamps(const QString& folder);
    ~FolderStamps();
    FolderStamps(const FolderStamps&) = delete;
    FolderStamps& operator=(const FolderStamps&) = delete;

    // Nothing when the file cannot be examined.
    std::optional<FileStamp> Stamp(const QString& name) const;
    // A regular file with no other hard link, not a symbolic link: every
    // change to it is a change in this folder.
    bool SingleLinkRegularFile(const QString& name) const;

private:
    int m_folder = -1;
};
