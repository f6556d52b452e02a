#include "platform/dicom/ActivityPost.h"

#include <QMetaObject>

ActivityPost::ActivityPost(QObject* serviceContext) : m_context(serviceContext) {}

void ActivityPost::SetSink(Sink sink) {
    std::lock_guard lock(m_queue->mutex);
    m_queue->sink = std::move(sink);
}

void ActivityPost::Post(const QString& line) {
    bool first = false;
    {
        std::lock_guard lock(m_queue->mutex);
        first = m_queue->lines.isEmpty();
        m_queue->lines << line;
    }
    QObject* context = m_context.data();
    if (!first || !context) return;
    QMetaObject::invokeMethod(
        context, [queue = m_queue] { Deliver(*queue); }, Qt::QueuedConnection);
}

void ActivityPost::Drain() { Deliver(*m_queue); }

void ActivityPost::Deliver(Queue& queue) {
    QStringList lines;
    Sink sink;
    {
        std::lock_guard lock(queue.mutex);
        lines.swap(queue.lines);
        sink = queue.sink;
    }
    if (!sink) return;
    for (const QString& line : lines) sink(line);
}
