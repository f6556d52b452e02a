#pragma once

#include <QObject>
#include <QTableWidget>

#include "mpps/RecentSteps.h"
#include "platform/Mailbox.h"

// The window's list of the performed steps of late: filled again on the
// window's thread after every change the service makes on its own threads.
class StepListView : public QObject {
    Q_OBJECT
public:
    // Observes the steps from now on, until it is destroyed.
    StepListView(RecentSteps& steps, QTableWidget& table, QObject* parent = nullptr);
    ~StepListView() override;

    // The rows from the steps as they are now.
    void Refresh();

private:
    RecentSteps& m_steps;
    QTableWidget& m_table;
    Mailbox m_mailbox;
};
