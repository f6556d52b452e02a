#include "app/StepListView.h"

StepListView::StepListView(RecentSteps& steps, QTableWidget& table, QObject* parent)
    : QObject(parent), m_steps(steps), m_table(table), m_mailbox(this) {
    m_steps.SetObserver([this] { m_mailbox.Post([this] { Refresh(); }); });
    Refresh();
}

StepListView::~StepListView() { m_steps.SetObserver({}); }

void StepListView::Refresh() {
    const std::vector<RecentStep> steps = m_steps.Latest();
    m_table.setRowCount(static_cast<int>(steps.size()));
    for (int row = 0; row < static_cast<int>(steps.size()); ++row) {
        const RecentStep& step = steps[static_cast<size_t>(row)];
        const QString cells[] = {step.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                 step.accession, step.patient, step.station, step.state,
                                 step.writeBack};
        for (int column = 0; column < 6; ++column)
            m_table.setItem(row, column, new QTableWidgetItem(cells[column]));
    }
}
