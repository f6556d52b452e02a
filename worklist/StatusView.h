#pragma once

#include <QString>

// What the service shows the operator besides the log: the communication
// state and the last statement it ran. Called from the query workers; the
// window shows each on its own thread.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void SetCommState(const QString& text) = 0;
    virtual void ShowSql(const QString& sql) = 0;
};
