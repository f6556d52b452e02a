#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <optional>

#include "platform/IsoTimeText.h"
#include "platform/LogSink.h"

// The activity log kept in a folder, one line per log line with its ISO 8601
// time stamp, rotated by size: "talvek-mwl.log" is written, and when the next
// line would take it past the size limit it becomes "talvek-mwl.log.1" (the
// older ones move up by one) and a new file starts, so at most `filesKept`
// files exist. A line never spans two files.
//
// A file that cannot be written costs the lines meanwhile, never the
// service: the problem is reported once, and opening it is tried again every
// few seconds. A line that was cut off by the failure (a full disk) is taken
// back out of the file, so every line in it stays whole. Files that cannot be
// renamed leave the current file growing past its limit (nothing is lost),
// reported once as well.
//
// A tool that rotates the file itself moves it away and then asks for it to
// be opened again (RequestReopen, on SIGHUP): the next lines start a new file.
class LogFile : public LogSink {
public:
    struct Settings {
        QString folder;
        qint64 maxBytes = 10 * 1024 * 1024;
        int filesKept = 5;
        // How long after a failure the file is tried again.
        qint64 retryMs = 10000;
    };
    // Receives the problems (and the recovery) as activity log lines; called
    // on the log writer's thread.
    using Reporter = std::function<void(const QString&)>;

    static constexpr const char* kFileName = "talvek-mwl.log";

    LogFile(Settings settings, Reporter report);
    ~LogFile() override;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // The file being written.
    QString Path() const;
    // Creates the folder where needed and opens the file; why not, if it
    // cannot. Called before the sink takes lines.
    std::optional<QString> Open();

    void Write(const std::vector<LogLine>& lines) override;
    // Any thread: the file is opened again by its name before the next lines
    // are written.
    void RequestReopen() { m_reopen = true; }

private:
    QString RotatedPath(int number) const;
    std::optional<QString> ShiftOlderFiles();
    bool Rotate();
    bool Append(const QByteArray& bytes);
    void TakeBack(qsizetype written);
    bool EndsInsideALine() const;
    void Reopen();
    void Fail(const QString& why);
    bool Retry();

    const Settings m_settings;
    const Reporter m_report;
    IsoTimeText m_time;
    int m_file = -1;
    qint64 m_size = 0;
    bool m_failed = false;        // the file cannot be written
    bool m_cannotRotate = false;  // it is written past its limit meanwhile
    bool m_startLine = false;     // the file ends inside a line: the next one starts anew
    qint64 m_retryAt = 0;         // steady clock, milliseconds
    std::atomic<bool> m_reopen{false};
};
