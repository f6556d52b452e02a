#include "platform/dicom/FindDispatcher.h"

#include <QMetaObject>
#include <algorithm>

#include "platform/MwlError.h"

FindDispatcher::FindDispatcher(QObject* serviceContext, Handler handler)
    : m_context(serviceContext), m_handler(std::move(handler)) {}

void FindDispatcher::Open() {
    std::lock_guard lock(m_mutex);
    m_closed = false;
}

void FindDispatcher::Dispatch(const std::shared_ptr<FindChannel>& channel) {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || !m_context) {
            channel->NoteFailure(QStringLiteral("The worklist server is shutting down."));
            channel->HandlerReturned();
            return;
        }
        std::erase_if(m_waiting, [](const auto& weak) { return weak.expired(); });
        m_waiting.push_back(channel);
    }
    QMetaObject::invokeMethod(
        m_context, [this, channel] { Run(channel); }, Qt::QueuedConnection);
}

void FindDispatcher::Run(const std::shared_ptr<FindChannel>& channel) {
    {
        // A query posted before a stop was ended by Shutdown() already.
        std::lock_guard lock(m_mutex);
        if (m_closed) return;
    }
    try {
        if (!channel->Cancelled()) m_handler(*channel);
    } catch (const MwlError& error) {
        channel->NoteFailure(error.Description());
    } catch (const std::exception& error) {
        channel->NoteFailure(QString::fromLocal8Bit(error.what()));
    }
    channel->HandlerReturned();
}

void FindDispatcher::Shutdown() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    for (const auto& weak : m_waiting) {
        if (auto channel = weak.lock()) {
            channel->NoteFailure(QStringLiteral("The worklist server is shutting down."));
            channel->HandlerReturned();
        }
    }
    m_waiting.clear();
}
