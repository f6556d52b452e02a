#pragma once

#include <QObject>
#include <QTimer>

#include "app/MainWindowUi.h"
#include "platform/ServiceStatus.h"

// The status strip at the foot of the main window: the ports, the open
// associations, today's queries, the HIS and the steps received, as the
// service status has them. It follows every change, and looks again every
// minute, so today's counts start afresh after midnight without one.
class StatusStrip : public QObject {
    Q_OBJECT
public:
    StatusStrip(const MainWindowUi& ui, ServiceStatus& status, QObject* parent = nullptr);

    void Show();

private:
    const MainWindowUi& m_ui;
    ServiceStatus& m_status;
    QTimer m_minute;
};
