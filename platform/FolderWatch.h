#pragma once

#include <QSet>
#include <QString>
#include <QtGlobal>

// What changed in one folder since the last look, told by the kernel
// (inotify) where that can be trusted: on local file systems (ext4, XFS,
// Btrfs, tmpfs, ...), identified by statfs(2). On network and user-space file
// systems (NFS, SMB/CIFS, FUSE, Ceph, 9p, cluster file systems) other
// machines change files without the kernel here knowing, so nothing is known
// there and every file must be examined as before.
//
// What the kernel does not report either: writes through another hard link
// of a file or to the target of a symbolic link. Callers trust the report
// only for regular files with a single link when first examined (a link made
// elsewhere later to such a file is not reported; order folders are written
// by one writer, which does not do that).
class FolderWatch {
public:
    struct Changes {
        // False: nothing is known (first look, no watch possible, events
        // lost, the folder replaced); every file must be examined.
        bool known = false;
        // A file came, went or was renamed: the listing is out of date.
        bool namesChanged = false;
        // Files written, changed, added or removed since the last look.
        QSet<QString> names;
    };

    // Without kernel reports nothing is ever known: every file is examined
    // at every query, as on a network share.
    explicit FolderWatch(bool useKernelReports = true);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // What changed in `folder` since the previous look at the same folder;
    // looking at another folder starts watching that one instead.
    Changes Look(const QString& folder);
    // The folder last looked at is watched: every change to it from now on
    // will be reported.
    bool Watching() const { return m_watch >= 0; }
    // For the log: how the folder last looked at is kept up to date.
    QString Description() const { return m_description; }
    // Whether every change on a file system of this statfs(2) type passes
    // through this kernel (not so on network and user-space file systems).
    static bool ReportsEveryChange(unsigned long fileSystemType);

private:
    void Unwatch();
    bool Watch(const QString& folder);

    bool m_useKernelReports = true;
    int m_inotify = -1;
    int m_watch = -1;
    QString m_folder;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    QString m_description;
};
