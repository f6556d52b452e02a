#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

#include "platform/LogFile.h"
#include "platform/LogWriter.h"
#include "platform/TextActivityLog.h"
#include "platform/dicom/ToolkitLogRoute.h"
#include "platform/settings/SettingsStore.h"

// Where the activity log's lines go besides the window: standard output
// without a window, and the log file when the settings name a folder. One
// writer thread serves both, so the service never waits for them; the
// toolkit's own warnings and errors join them as whole lines.
class LogOutputs : public QObject {
    Q_OBJECT
public:
    explicit LogOutputs(TextActivityLog& log, QObject* parent = nullptr);
    ~LogOutputs() override;

    void AddStandardOutput();
    // Opens the log file the settings name, if any. Returns the lines the
    // activity log shows about it: where it is, or why it cannot be written.
    QStringList OpenLogFile(const SettingsStore& store);
    // The file being written; empty without one.
    QString LogFilePath() const { return m_filePath; }
    // On SIGHUP: the log file is opened again by its name, so an outside tool
    // that moved it away finds the next lines in a new file, the first of
    // them the line that says so.
    void ReopenLogFile();
    // Writes what is queued and ends the process at once with the status:
    // for a stop that a thread held by the HIS cannot follow.
    [[noreturn]] void EndNow(int status);

private:
    struct Relay;
    void Add(std::shared_ptr<LogSink> sink);

    TextActivityLog& m_log;
    LogWriter m_writer;
    std::shared_ptr<Relay> m_relay;
    std::unique_ptr<ToolkitLogRoute> m_toolkit;
    std::shared_ptr<LogFile> m_file;
    QString m_filePath;
};
