#include "platform/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/WriteAll.h"

namespace {

qint64 SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Renames, taking a file that is not there as done.
bool Move(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 ||
           errno == ENOENT;
}

bool Remove(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

}  // namespace

LogFile::LogFile(Settings settings, Reporter report)
    : m_settings(std::move(settings)), m_report(std::move(report)) {}

LogFile::~LogFile() {
    if (m_file >= 0) ::close(m_file);
}

QString LogFile::Path() const { return QDir(m_settings.folder).filePath(QLatin1String(kFileName)); }

QString LogFile::RotatedPath(int number) const {
    return Path() + QLatin1Char('.') + QString::number(number);
}

std::optional<QString> LogFile::Open() {
    if (m_file >= 0) ::close(m_file);
    QDir().mkpath(m_settings.folder);
    // The log names patients: readable by the owner and its group only.
    m_file = ::open(QFile::encodeName(Path()).constData(),
                    O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    struct stat info {};
    QString why;
    if (m_file < 0 || ::fstat(m_file, &info) != 0)
        why = Reason(errno);
    else if (!S_ISREG(info.st_mode))
        why = QStringLiteral("it is not a regular file");
    if (!why.isEmpty()) {
        if (m_file >= 0) ::close(m_file);
        m_file = -1;
        m_failed = true;
        m_retryAt = SteadyMs() + m_settings.retryMs;
        return QStringLiteral(
                   "Cannot write the activity log file %1: %2. The server goes on "
                   "serving; the file is tried again every few seconds.")
            .arg(Path(), why);
    }
    m_size = info.st_size;
    m_startLine = EndsInsideALine();
    return std::nullopt;
}

// A line cut off before this file was opened (a crash, a cut that could not
// be taken back) is ended before the next one.
bool LogFile::EndsInsideALine() const {
    char last = '\n';
    return m_size > 0 && ::pread(m_file, &last, 1, m_size - 1) == 1 && last != '\n';
}

void LogFile::Write(const std::vector<LogLine>& lines) {
    if (m_reopen.exchange(false)) Reopen();
    if (m_file < 0 && !Retry()) return;
    QByteArray chunk;
    if (m_startLine) chunk += '\n';
    for (const LogLine& line : lines) {
        QByteArray text = m_time.Of(line.msecsSinceEpoch);
        text += ' ';
        text += line.text.toUtf8();
        text += '\n';
        const qint64 size = m_size + chunk.size();
        if (size > 0 && size + text.size() > m_settings.maxBytes) {
            if (!Append(chunk) || !Rotate()) return;
            chunk.clear();
        }
        chunk += text;
    }
    Append(chunk);
}

bool LogFile::Append(const QByteArray& bytes) {
    if (bytes.isEmpty()) return true;
    qsizetype written = 0;
    if (!WriteAll(m_file, bytes, &written)) {
        const int error = errno;
        TakeBack(written);
        Fail(Reason(error));
        return false;
    }
    m_size += bytes.size();
    m_startLine = false;
    return true;
}

// The part of a failed write that did reach the file ends inside a line: it
// is cut off again. Should that fail too, the file is found ending inside a
// line when it is opened again.
void LogFile::TakeBack(qsizetype written) {
    struct stat info {};
    if (written == 0 || ::fstat(m_file, &info) != 0 || info.st_size < written) return;
    [[maybe_unused]] const int cut = ::ftruncate(m_file, info.st_size - written);
}

// The file's name now may be another file (an outside tool moved the old one
// away): the next lines go there.
void LogFile::Reopen() {
    const bool failed = m_failed;
    if (const auto why = Open()) {
        m_report(*why);
        return;
    }
    m_failed = false;
    if (failed) m_report(QStringLiteral("The activity log file %1 is written again.").arg(Path()));
}

// talvek-mwl.log.(kept - 1) goes, each older file moves up by one, and the
// current file becomes talvek-mwl.log.1.
std::optional<QString> LogFile::ShiftOlderFiles() {
    const int kept = std::max(1, m_settings.filesKept);
    if (kept == 1) return Remove(Path()) ? std::nullopt : std::optional(Reason(errno));
    if (!Remove(RotatedPath(kept - 1))) return Reason(errno);
    for (int number = kept - 2; number >= 1; --number)
        if (!Move(RotatedPath(number), RotatedPath(number + 1))) return Reason(errno);
    if (!Move(Path(), RotatedPath(1))) return Reason(errno);
    return std::nullopt;
}

bool LogFile::Rotate() {
    if (m_cannotRotate && SteadyMs() < m_retryAt) return true;
    if (const auto why = ShiftOlderFiles()) {
        if (!m_cannotRotate)
            m_report(QStringLiteral("Cannot rotate the activity log file %1: %2. It grows past "
                                    "its size limit until it can be rotated.")
                         .arg(Path(), *why));
        m_cannotRotate = true;
        m_retryAt = SteadyMs() + m_settings.retryMs;
        return true;
    }
    m_cannotRotate = false;
    if (const auto why = Open()) {
        m_report(*why);
        return false;
    }
    return true;
}

void LogFile::Fail(const QString& why) {
    if (m_file >= 0) ::close(m_file);
    m_file = -1;
    if (!m_failed)
        m_report(QStringLiteral("Cannot write the activity log file %1: %2. The server goes on "
                                "serving; lines are not kept in the file until it can be written "
                                "again.")
                     .arg(Path(), why));
    m_failed = true;
    m_retryAt = SteadyMs() + m_settings.retryMs;
}

bool LogFile::Retry() {
    if (SteadyMs() < m_retryAt) return false;
    const bool failed = m_failed;
    if (Open()) return false;
    m_failed = false;
    if (failed) m_report(QStringLiteral("The activity log file %1 is written again.").arg(Path()));
    return true;
}
