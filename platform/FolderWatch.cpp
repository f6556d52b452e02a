#include "platform/FolderWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

namespace {

constexpr uint32_t kEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                             IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                             IN_ONLYDIR;
constexpr uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr uint32_t kWatchGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

// File systems whose every change passes through this kernel, by their
// statfs(2) magic number.
const char* LocalFileSystem(long type) {
    switch (static_cast<unsigned long>(type)) {
        case 0xEF53:
            return "ext2/3/4";
        case 0x58465342:
            return "XFS";
        case 0x9123683E:
            return "Btrfs";
        case 0x01021994:
            return "tmpfs";
        case 0xF2F52010:
            return "F2FS";
        case 0x2FC12FC1:
            return "ZFS";
        case 0x3153464A:
            return "JFS";
        case 0x52654973:
            return "ReiserFS";
        case 0x794C7630:
            return "overlayfs";
        case 0x4D44:
            return "FAT";
        case 0x2011BAB0:
            return "exFAT";
        case 0x7366746E:
            return "NTFS";
        default:
            return nullptr;
    }
}

}  // namespace

FolderWatch::FolderWatch(bool useKernelReports)
    : m_useKernelReports(useKernelReports),
      m_inotify(useKernelReports ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1) {}

bool FolderWatch::ReportsEveryChange(unsigned long fileSystemType) {
    return LocalFileSystem(static_cast<long>(fileSystemType)) != nullptr;
}

FolderWatch::~FolderWatch() {
    if (m_inotify >= 0) ::close(m_inotify);
}

void FolderWatch::Unwatch() {
    if (m_watch >= 0) ::inotify_rm_watch(m_inotify, m_watch);
    m_watch = -1;
}

// Watches the folder if its file system reports every change; the watch
// comes first, so nothing that happens after this look is missed.
bool FolderWatch::Watch(const QString& folder) {
    Unwatch();
    m_folder = folder;
    const QByteArray path = QFile::encodeName(folder);
    struct statfs system {};
    struct stat info {};
    if (::statfs(path.constData(), &system) != 0 || ::stat(path.constData(), &info) != 0) {
        m_description = QStringLiteral("cannot be examined");
        return false;
    }
    if (!m_useKernelReports) {
        m_description = QStringLiteral("every file examined at every query");
        return false;
    }
    const char* local = LocalFileSystem(system.f_type);
    if (!local) {
        m_description = QStringLiteral(
                            "every file examined at every query (file system type "
                            "0x%1 does not report every change)")
                            .arg(static_cast<unsigned long>(system.f_type), 0, 16);
        return false;
    }
    if (m_inotify < 0 ||
        (m_watch = ::inotify_add_watch(m_inotify, path.constData(), kEvents)) < 0) {
        m_description = QStringLiteral("every file examined at every query (no inotify watch)");
        return false;
    }
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_description =
        QStringLiteral("changes reported by the %1 file system").arg(QLatin1String(local));
    return true;
}

FolderWatch::Changes FolderWatch::Look(const QString& folder) {
    Changes changes;
    // One look at the path tells whether it is still the folder watched.
    struct stat info {};
    const bool same = m_watch >= 0 && folder == m_folder &&
                      ::stat(QFile::encodeName(folder).constData(), &info) == 0 &&
                      info.st_dev == m_device && info.st_ino == m_inode;
    if (!same) {
        Watch(folder);
        return changes;
    }
    changes.known = true;
    alignas(struct inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) changes.known = false;
            if (event->wd != m_watch) continue;
            if (event->mask & kWatchGone) {
                changes.known = false;
                m_watch = -1;
                continue;
            }
            if (event->mask & kNameEvents) changes.namesChanged = true;
            if (event->len > 0) changes.names.insert(QFile::decodeName(event->name));
        }
    }
    if (!changes.known) Watch(folder);
    return changes;
}
