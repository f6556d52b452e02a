#pragma once

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Clock.h"

class Mailbox;

// What the service is doing, at a glance: the ports it listens on, the
// associations open, the queries answered and failed today, the state of the
// HIS and the performed procedure steps received. The network threads, the
// query workers and the HIS connections record into it from their threads;
// the window's status strip, the headless status line and the service
// manager read a snapshot. Changes are told through Changed on the object's
// own thread, many at once as one.
class ServiceStatus : public QObject {
    Q_OBJECT
public:
    enum class His { NotConnected, NotUsed, Connected, Failing };

    struct Snapshot {
        int plainPort = 0;
        int tlsPort = 0;
        int openAssociations = 0;
        qint64 answeredToday = 0;
        qint64 failedToday = 0;
        His his = His::NotConnected;
        QString hisFailure;  // the kind of the last failure
        QDateTime hisFailedAt;
        QDateTime hisWaitingSince;  // invalid: no HIS call is waiting
        // Steps are shown once the service takes them, or once one came.
        bool showsSteps = false;
        qint64 stepsToday = 0;
        QDate today;
    };

    // The strip's fields, each as the window shows it.
    struct Parts {
        QString ports;
        QString associations;
        QString queries;
        QString his;
        QString steps;  // empty while steps are not shown
    };

    explicit ServiceStatus(const Clock& clock, QObject* parent = nullptr);
    ~ServiceStatus() override;

    void SetPorts(int plain, int tls);
    void AssociationOpened();
    void AssociationClosed();
    void QueryAnswered();
    void QueryFailed();
    // The mode changed: its HIS is to be connected, or it uses none.
    void HisExpected(bool used);
    void HisAnswered();
    // kind: the failure's kind as a modality is told it ("HIS query failed").
    void HisFailed(const QString& kind);
    // A HIS call (told apart by its key) has been waiting since `since`; the
    // HIS shows as waiting until every such call is over.
    void HisWaiting(const void* call, std::chrono::steady_clock::time_point since);
    void HisWaitOver(const void* call);
    // The hook for performed procedure steps: the service takes them (the
    // strip shows the count from now on), and one was received.
    void ShowSteps();
    void StepReceived();

    Snapshot Current() const;
    // Grows with every change; a reader that saw a number has seen every
    // change up to it.
    quint64 Generation() const;

    static Parts PartsOf(const Snapshot& snapshot);
    // The parts in one line, joined by " | ".
    static QString Text(const Parts& parts);
    static QString Text(const Snapshot& snapshot) { return Text(PartsOf(snapshot)); }
    QString Text() const { return Text(Current()); }

signals:
    void Changed();

private:
    // With the lock held: today's counts start afresh on a new day.
    void RollOver();
    template <typename Change>
    void Record(Change&& change);
    void Notify();

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    Snapshot m_state;
    std::map<const void*, QDateTime> m_waiting;
    quint64 m_generation = 0;
    bool m_notifyPosted = false;
    std::unique_ptr<Mailbox> m_mailbox;
};
