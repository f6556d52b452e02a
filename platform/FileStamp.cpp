#include "platform/FileStamp.h"

#include <QFile>
#include <sys/stat.h>

std::optional<FileStamp> ReadFileStamp(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
    return FileStamp{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino),
                     static_cast<qint64>(info.st_size),
                     static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}
