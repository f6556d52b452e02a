#include "platform/FileStamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace {

FileStamp StampOf(const struct stat& info) {
    return FileStamp{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino),
                     static_cast<qint64>(info.st_size),
                     static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

}  // namespace

std::optional<FileStamp> FileStampOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
    return StampOf(info);
}

FolderStamps::FolderStamps(const QString& folder)
    : m_folder(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

FolderStamps::~FolderStamps() {
    if (m_folder >= 0) ::close(m_folder);
}

std::optional<FileStamp> FolderStamps::Stamp(const QString& name) const {
    struct stat info {};
    if (m_folder < 0 || ::fstatat(m_folder, QFile::encodeName(name).constData(), &info, 0) != 0)
        return std::nullopt;
    return StampOf(info);
}

bool FolderStamps::SingleLinkRegularFile(const QString& name) const {
    struct stat info {};
    return m_folder >= 0 &&
           ::fstatat(m_folder, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) ==
               0 &&
           S_ISREG(info.st_mode) && info.st_nlink == 1;
}
