#include "platform/dicom/ActivityPost.h"

#include "platform/dicom/ServiceMailbox.h"

ActivityPost::ActivityPost(QObject* serviceContext)
    : m_mailbox(std::make_unique<ServiceMailbox>(serviceContext, [this] { Drain(); })) {}

ActivityPost::~ActivityPost() = default;

void ActivityPost::SetSink(Sink sink) {
    std::lock_guard lock(m_mutex);
    m_sink = std::move(sink);
}

void ActivityPost::Post(const QString& line) {
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        first = m_lines.isEmpty();
        m_lines << line;
    }
    if (first) m_mailbox->Wake();
}

void ActivityPost::Drain() {
    QStringList lines;
    Sink sink;
    {
        std::lock_guard lock(m_mutex);
        lines.swap(m_lines);
        sink = m_sink;
    }
    if (!sink) return;
    for (const QString& line : lines) sink(line);
}
