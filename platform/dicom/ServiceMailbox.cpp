#include "platform/dicom/ServiceMailbox.h"

#include <QMetaObject>
#include <QThread>

ServiceMailbox::ServiceMailbox(QObject* serviceContext, std::function<void()> onWake)
    : m_onWake(std::move(onWake)) {
    if (serviceContext && serviceContext->thread() != thread())
        moveToThread(serviceContext->thread());
}

void ServiceMailbox::Wake() { QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection); }

void ServiceMailbox::Deliver() { m_onWake(); }
