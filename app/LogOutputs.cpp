#include "app/LogOutputs.h"

#include <cstdlib>
#include <mutex>

#include "app/LogFileSettings.h"
#include "platform/StandardOutputSink.h"

// Carries the log file's problems from the writer thread to the activity
// log, and nowhere once the outputs are gone.
struct LogOutputs::Relay {
    std::mutex mutex;
    LogOutputs* target = nullptr;

    void Post(const QString& line) {
        std::lock_guard lock(mutex);
        if (target) target->m_log.Log(line);
    }
};

LogOutputs::LogOutputs(TextActivityLog& log, QObject* parent)
    : QObject(parent), m_log(log), m_relay(std::make_shared<Relay>()) {
    m_relay->target = this;
}

LogOutputs::~LogOutputs() {
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    m_toolkit.reset();
    m_log.SetLineWriter(nullptr);
}

void LogOutputs::EndNow(int status) {
    m_writer.Flush(std::chrono::milliseconds(500));
    std::_Exit(status);
}

void LogOutputs::AddStandardOutput() { Add(std::make_shared<StandardOutputSink>()); }

QStringList LogOutputs::OpenLogFile(const SettingsStore& store) {
    const LogFileSettings settings = LogFileSettings::Load(store);
    QStringList lines = settings.problems;
    if (!settings.Enabled()) return lines;
    auto file = std::make_shared<LogFile>(
        settings.file, [relay = m_relay](const QString& line) { relay->Post(line); });
    if (const auto why = file->Open()) {
        lines << *why;
    } else {
        m_filePath = file->Path();
        lines << QStringLiteral(
                     "The activity log is also written to %1 (a new file every %2 "
                     "bytes, %3 files kept).")
                     .arg(m_filePath)
                     .arg(settings.file.maxBytes)
                     .arg(settings.file.filesKept);
    }
    // Added even when it cannot be opened yet: it tries again on its own.
    m_file = file;
    Add(file);
    return lines;
}

void LogOutputs::ReopenLogFile() {
    if (!m_file) {
        m_log.Log(
            QStringLiteral("SIGHUP: no activity log file to open again (LogFolder is not set)."));
        return;
    }
    m_file->RequestReopen();
    m_log.Log(
        QStringLiteral("SIGHUP: the activity log file %1 was opened again.").arg(m_file->Path()));
}

void LogOutputs::Add(std::shared_ptr<LogSink> sink) {
    m_writer.AddSink(std::move(sink));
    m_log.SetLineWriter(&m_writer);
    if (!m_toolkit) m_toolkit = std::make_unique<ToolkitLogRoute>(m_writer);
}
