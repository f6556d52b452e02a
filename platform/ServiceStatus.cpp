#include "platform/ServiceStatus.h"

#include <QLocale>
#include <QStringList>
#include <algorithm>

#include "platform/Mailbox.h"

namespace {

QString Counted(qint64 count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

// The time alone for today; the date as well for an older moment.
QString When(const QDateTime& moment, const QDate& today) {
    const QString time = moment.time().toString(QStringLiteral("HH:mm:ss"));
    if (moment.date() == today) return time;
    return QLocale::system().toString(moment.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           time;
}

QString PortsText(const ServiceStatus::Snapshot& s) {
    if (s.plainPort && s.tlsPort)
        return QStringLiteral("Listening on port %1 and TLS port %2").arg(s.plainPort).arg(s.tlsPort);
    if (s.plainPort) return QStringLiteral("Listening on port %1").arg(s.plainPort);
    if (s.tlsPort) return QStringLiteral("Listening on TLS port %1").arg(s.tlsPort);
    return QStringLiteral("Not listening");
}

QString HisText(const ServiceStatus::Snapshot& s) {
    if (s.hisWaitingSince.isValid())
        return QStringLiteral("HIS: waiting since ") + When(s.hisWaitingSince, s.today);
    switch (s.his) {
        case ServiceStatus::His::NotUsed:
            return QStringLiteral("HIS: none (order files)");
        case ServiceStatus::His::Connected:
            return QStringLiteral("HIS: connected");
        case ServiceStatus::His::Failing:
            return QStringLiteral("HIS: failing (%1 at %2)")
                .arg(s.hisFailure, When(s.hisFailedAt, s.today));
        case ServiceStatus::His::NotConnected:
            break;
    }
    return QStringLiteral("HIS: not connected");
}

}  // namespace

ServiceStatus::ServiceStatus(const Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_mailbox(std::make_unique<Mailbox>(this)) {
    m_state.today = m_clock.Now().date();
}

ServiceStatus::~ServiceStatus() = default;

template <typename Change>
void ServiceStatus::Record(Change&& change) {
    {
        std::lock_guard lock(m_mutex);
        RollOver();
        if (!change(m_state)) return;
        ++m_generation;
        if (m_notifyPosted) return;
        m_notifyPosted = true;
    }
    m_mailbox->Post([this] { Notify(); });
}

void ServiceStatus::Notify() {
    {
        std::lock_guard lock(m_mutex);
        m_notifyPosted = false;
    }
    emit Changed();
}

void ServiceStatus::RollOver() {
    const QDate today = m_clock.Now().date();
    if (today == m_state.today) return;
    m_state.today = today;
    m_state.answeredToday = 0;
    m_state.failedToday = 0;
    m_state.stepsToday = 0;
}

void ServiceStatus::SetPorts(int plain, int tls) {
    Record([&](Snapshot& s) {
        const bool changed = s.plainPort != plain || s.tlsPort != tls;
        s.plainPort = plain;
        s.tlsPort = tls;
        return changed;
    });
}

void ServiceStatus::AssociationOpened() {
    Record([](Snapshot& s) { return ++s.openAssociations, true; });
}

void ServiceStatus::AssociationClosed() {
    Record([](Snapshot& s) {
        s.openAssociations = std::max(0, s.openAssociations - 1);
        return true;
    });
}

void ServiceStatus::QueryAnswered() {
    Record([](Snapshot& s) { return ++s.answeredToday, true; });
}

void ServiceStatus::QueryFailed() {
    Record([](Snapshot& s) { return ++s.failedToday, true; });
}

void ServiceStatus::HisExpected(bool used) {
    Record([used](Snapshot& s) {
        s.his = used ? His::NotConnected : His::NotUsed;
        s.hisFailure.clear();
        return true;
    });
}

void ServiceStatus::HisAnswered() {
    Record([](Snapshot& s) {
        if (s.his == His::Connected) return false;
        s.his = His::Connected;
        s.hisFailure.clear();
        return true;
    });
}

void ServiceStatus::HisFailed(const QString& kind) {
    const QDateTime now = m_clock.Now();
    Record([&](Snapshot& s) {
        s.his = His::Failing;
        s.hisFailure = kind;
        s.hisFailedAt = now;
        return true;
    });
}

void ServiceStatus::HisWaiting(const void* call, std::chrono::steady_clock::time_point since) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - since);
    const QDateTime began = m_clock.Now().addMSecs(-waited.count());
    Record([&](Snapshot& s) {
        m_waiting[call] = began;
        const auto earliest = std::min_element(
            m_waiting.begin(), m_waiting.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
        const bool changed = s.hisWaitingSince != earliest->second;
        s.hisWaitingSince = earliest->second;
        return changed;
    });
}

void ServiceStatus::HisWaitOver(const void* call) {
    Record([&](Snapshot& s) {
        if (m_waiting.erase(call) == 0) return false;
        QDateTime earliest;
        for (const auto& [key, began] : m_waiting)
            if (!earliest.isValid() || began < earliest) earliest = began;
        s.hisWaitingSince = earliest;
        return true;
    });
}

void ServiceStatus::ShowSteps() {
    Record([](Snapshot& s) { return !std::exchange(s.showsSteps, true); });
}

void ServiceStatus::StepReceived() {
    Record([](Snapshot& s) {
        s.showsSteps = true;
        ++s.stepsToday;
        return true;
    });
}

ServiceStatus::Snapshot ServiceStatus::Current() const {
    std::lock_guard lock(m_mutex);
    Snapshot snapshot = m_state;
    const QDate today = m_clock.Now().date();
    if (today != snapshot.today) {
        snapshot.today = today;
        snapshot.answeredToday = snapshot.failedToday = snapshot.stepsToday = 0;
    }
    return snapshot;
}

quint64 ServiceStatus::Generation() const {
    std::lock_guard lock(m_mutex);
    return m_generation;
}

ServiceStatus::Parts ServiceStatus::PartsOf(const Snapshot& s) {
    Parts parts;
    parts.ports = PortsText(s);
    parts.associations = s.openAssociations == 0
                             ? QStringLiteral("No association open")
                             : Counted(s.openAssociations, "association open", "associations open");
    parts.queries = QStringLiteral("Today: %1 answered, %2 failed")
                        .arg(Counted(s.answeredToday, "query", "queries"))
                        .arg(s.failedToday);
    parts.his = HisText(s);
    if (s.showsSteps) parts.steps = QStringLiteral("Steps received today: %1").arg(s.stepsToday);
    return parts;
}

QString ServiceStatus::Text(const Parts& parts) {
    QStringList shown{parts.ports, parts.associations, parts.queries, parts.his};
    if (!parts.steps.isEmpty()) shown << parts.steps;
    return shown.join(QStringLiteral(" | "));
}
