#pragma once

#include <QObject>
#include <functional>

// Wakes a function on the service thread (the thread of the context object)
// from any thread. What the function works on travels in the caller's own
// locked queue; the wake-up itself is a call queued by name, so nothing a
// worker thread wrote is handed over by Qt. (A queued lambda would be: its
// storage is reference-counted with atomics inside Qt, which race detectors
// cannot see, and so they report a race that is not there.)
class ServiceMailbox : public QObject {
    Q_OBJECT
public:
    ServiceMailbox(QObject* serviceContext, std::function<void()> onWake);

    // Any thread.
    void Wake();

private slots:
    void Deliver();

private:
    const std::function<void()> m_onWake;
};
