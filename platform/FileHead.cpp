#include "platform/FileHead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr qsizetype kChunk = 4096;

// The entry itself, for a name that leads nowhere readable.
QString ProblemOf(const QByteArray& path, int error) {
    struct stat link {};
    if (error == ENOENT && ::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode))
        return QStringLiteral("it is a symbolic link to nothing");
    return QString::fromLocal8Bit(std::strerror(error));
}

QString NotRegular(const QByteArray& path, const struct stat& target) {
    struct stat link {};
    const bool linked = ::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode);
    return (linked ? QStringLiteral("it is a symbolic link to ") : QStringLiteral("it is ")) +
           FileKindText(target.st_mode);
}

// Reads chunks until a line end or more than the limit has come.
bool ReadLine(int file, qsizetype maxLineBytes, FileHead& head) {
    char buffer[kChunk];
    for (;;) {
        const ssize_t got = ::read(file, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        const char* begin = buffer;
        const char* end = buffer + got;
        const char* lineEnd =
            std::find_if(begin, end, [](char c) { return c == '\r' || c == '\n'; });
        head.line.append(begin, lineEnd - begin);
        if (lineEnd != end) {
            head.lineEnded = head.line.size() <= maxLineBytes;
            head.line.truncate(std::min(head.line.size(), maxLineBytes + 1));
            return true;
        }
        if (head.line.size() > maxLineBytes) {
            head.line.truncate(maxLineBytes + 1);
            return true;
        }
    }
}

}  // namespace

QString FileKindText(unsigned mode) {
    if (S_ISREG(mode)) return QString();
    if (S_ISDIR(mode)) return QStringLiteral("a directory");
    if (S_ISFIFO(mode)) return QStringLiteral("a FIFO (named pipe)");
    if (S_ISSOCK(mode)) return QStringLiteral("a socket");
    if (S_ISCHR(mode)) return QStringLiteral("a character device");
    if (S_ISBLK(mode)) return QStringLiteral("a block device");
    return QStringLiteral("not a regular file");
}

FileHead ReadFileHead(const QString& path, qsizetype maxLineBytes) {
    FileHead head;
    const QByteArray name = QFile::encodeName(path);
    // Never waits at the open: a FIFO opened without O_NONBLOCK waits for a writer.
    const int file = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        head.problem = ProblemOf(name, errno);
        return head;
    }
    struct stat info {};
    if (::fstat(file, &info) != 0) {
        head.problem = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISREG(info.st_mode)) {
        head.problem = NotRegular(name, info);
    } else {
        head.before = FileStampFrom(info);
        if (!ReadLine(file, maxLineBytes, head) || ::fstat(file, &info) != 0)
            head.problem = QString::fromLocal8Bit(std::strerror(errno));
        else
            head.after = FileStampFrom(info);
    }
    ::close(file);
    return head;
}
