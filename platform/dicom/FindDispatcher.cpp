#include "platform/dicom/FindDispatcher.h"

#include <algorithm>

#include "platform/MwlError.h"
#include "platform/dicom/ServiceMailbox.h"

FindDispatcher::FindDispatcher(QObject* serviceContext, Handler handler)
    : m_context(serviceContext),
      m_handler(std::move(handler)),
      m_mailbox(std::make_unique<ServiceMailbox>(serviceContext, [this] { RunNext(); })) {}

FindDispatcher::~FindDispatcher() = default;

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
        m_queue.push_back(channel);
    }
    m_mailbox->Wake();
}

// One wake-up per dispatched query, in the order they came.
void FindDispatcher::RunNext() {
    std::shared_ptr<FindChannel> channel;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) return;  // ended by Shutdown() already
        channel = std::move(m_queue.front());
        m_queue.pop_front();
    }
    Run(channel);
}

void FindDispatcher::Run(const std::shared_ptr<FindChannel>& channel) {
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
    m_queue.clear();
    for (const auto& weak : m_waiting) {
        if (auto channel = weak.lock()) {
            channel->NoteFailure(QStringLiteral("The worklist server is shutting down."));
            channel->HandlerReturned();
        }
    }
    m_waiting.clear();
}
