#include "platform/dicom/ToolkitLogRoute.h"

#include <dcmtk/oflog/appender.h>
#include <dcmtk/oflog/logger.h>
#include <dcmtk/oflog/spi/logevent.h>

#include <QDateTime>

#include "platform/LogWriter.h"
#include "platform/TextActivityLog.h"

namespace log4 = dcmtk::log4cplus;

namespace {

QString LevelText(log4::LogLevel level) {
    if (level >= log4::ERROR_LOG_LEVEL) return QStringLiteral("DCMTK error: ");
    if (level >= log4::WARN_LOG_LEVEL) return QStringLiteral("DCMTK warning: ");
    return QStringLiteral("DCMTK: ");
}

// Runs on whichever thread the toolkit logs from; the writer takes lines
// from any thread. A message of several lines gives several whole lines.
class WriterAppender : public log4::Appender {
public:
    explicit WriterAppender(LogWriter& writer) : m_writer(writer) {}
    ~WriterAppender() override { destructorImpl(); }
    void close() override {}

protected:
    void append(const log4::spi::InternalLoggingEvent& event) override {
        const QDateTime now = QDateTime::currentDateTime();
        const QString stamp = TextActivityLog::Stamp(now);
        const QString level = LevelText(event.getLogLevel());
        const log4::tstring& message = event.getMessage();
        const QString text = QString::fromLatin1(message.c_str(), message.size());
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString trimmed = line.trimmed();
            if (!trimmed.isEmpty())
                m_writer.Write(LogLine{now.toMSecsSinceEpoch(), stamp, level + trimmed});
        }
    }

private:
    LogWriter& m_writer;
};

}  // namespace

struct ToolkitLogRoute::Saved {
    log4::SharedAppenderPtrList appenders;
};

ToolkitLogRoute::ToolkitLogRoute(LogWriter& writer) : m_saved(std::make_unique<Saved>()) {
    log4::Logger root = log4::Logger::getRoot();
    m_saved->appenders = root.getAllAppenders();
    root.removeAllAppenders();
    root.addAppender(log4::SharedAppenderPtr(new WriterAppender(writer)));
}

// Removing the appender waits for a message it is writing, so nothing
// reaches the writer once this returns.
ToolkitLogRoute::~ToolkitLogRoute() {
    log4::Logger root = log4::Logger::getRoot();
    root.removeAllAppenders();
    for (const auto& appender : m_saved->appenders) root.addAppender(appender);
}
