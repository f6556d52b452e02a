#include "platform/FileStamp.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

FileStamp FileStampFrom(const struct stat& info) {
    return FileStamp{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino),
                     static_cast<qint64>(info.st_size),
                     static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::optional<FileStamp> FileStampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
    return FileStampFrom(info);
}

FolderStamps::FolderStamps(const QString& folder)
    : m_folder(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (m_folder < 0) m_problem = QString::fromLocal8Bit(std::strerror(errno));
}

FolderStamps::~FolderStamps() {
    if (m_folder >= 0) ::close(m_folder);
}

std::optional<FileStamp> FolderStamps::Stamp(const QString& name) const {
    struct stat info {};
    if (m_folder < 0 || ::fstatat(m_folder, QFile::encodeName(name).constData(), &info, 0) != 0)
        return std::nullopt;
    return FileStampFrom(info);
}

// Listed through a descriptor of its own, so the listing state is this call's
// alone; an error while reading the entries (a share that went away) is the
// folder's problem, never a shorter list.
FolderStamps::Names FolderStamps::NamesEndingIn(const QString& suffix) const {
    Names result;
    if (m_problem) {
        result.problem = m_problem;
        return result;
    }
    const int listing = ::openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!entries) {
        result.problem = QString::fromLocal8Bit(std::strerror(errno));
        if (listing >= 0) ::close(listing);
        return result;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(entries);
        if (!entry) {
            if (errno != 0) result.problem = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        const QString name = QFile::decodeName(entry->d_name);
        if (!name.startsWith(QLatin1Char('.')) && name.endsWith(suffix, Qt::CaseInsensitive))
            result.names << name;
    }
    ::closedir(entries);
    if (result.problem) result.names.clear();
    return result;
}

bool FolderStamps::MountPoint() const {
    struct stat folder {};
    struct stat parent {};
    return m_folder >= 0 && ::fstat(m_folder, &folder) == 0 &&
           ::fstatat(m_folder, "..", &parent, 0) == 0 && folder.st_dev != parent.st_dev;
}

bool FolderStamps::SingleLinkRegularFile(const QString& name) const {
    struct stat info {};
    return m_folder >= 0 &&
           ::fstatat(m_folder, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) ==
               0 &&
           S_ISREG(info.st_mode) && info.st_nlink == 1;
}
