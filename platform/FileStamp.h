#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

struct stat;

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

// The stamp of a file from what stat(2) told of it.
FileStamp FileStampFrom(const struct stat& info);

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

    // Why the folder cannot be opened (the system's reason); nothing when it
    // is open.
    const std::optional<QString>& Problem() const { return m_problem; }

    struct Names {
        QStringList names;
        std::optional<QString> problem;  // why the folder could not be listed
    };
    // The names of the entries that end in the suffix (in any case), as the
    // folder lists them; hidden names (a leading ".") are left out.
    Names NamesEndingIn(const QString& suffix) const;
    // The folder is where a file system of its own is mounted.
    bool MountPoint() const;

    // Nothing when the file cannot be examined.
    std::optional<FileStamp> Stamp(const QString& name) const;
    // A regular file with no other hard link, not a symbolic link: every
    // change to it is a change in this folder.
    bool SingleLinkRegularFile(const QString& name) const;

private:
    int m_folder = -1;
    std::optional<QString> m_problem;
};
