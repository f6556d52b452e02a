#include "app/StatusStrip.h"

namespace {
constexpr int kMinuteMs = 60 * 1000;
}  // namespace

StatusStrip::StatusStrip(const MainWindowUi& ui, ServiceStatus& status, QObject* parent)
    : QObject(parent), m_ui(ui), m_status(status) {
    connect(&m_status, &ServiceStatus::Changed, this, &StatusStrip::Show);
    connect(&m_minute, &QTimer::timeout, this, &StatusStrip::Show);
    m_minute.start(kMinuteMs);
    Show();
}

void StatusStrip::Show() {
    const ServiceStatus::Parts parts = ServiceStatus::PartsOf(m_status.Current());
    m_ui.lblStatusPorts->setText(parts.ports);
    m_ui.lblStatusAssociations->setText(parts.associations);
    m_ui.lblStatusQueries->setText(parts.queries);
    m_ui.lblStatusHis->setText(parts.his);
    m_ui.lblStatusSteps->setText(parts.steps);
    m_ui.lblStatusSteps->setVisible(!parts.steps.isEmpty());
}
