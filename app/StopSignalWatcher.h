#pragma once

#include <QObject>

// Ends the application's event loop on SIGINT or SIGTERM. The program then
// shuts the listener and the HIS connection down on the service thread, after
// any query that is running has been answered.
class StopSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit StopSignalWatcher(QObject* parent = nullptr);
    ~StopSignalWatcher() override;
};
