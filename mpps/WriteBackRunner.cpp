#include "mpps/WriteBackRunner.h"

#include "mpps/LogText.h"
#include "platform/MwlError.h"

namespace {
// A server that stops in the middle of a write-back leaves its claim; the
// others take the step over once the claim has run out.
constexpr std::chrono::seconds kShortestHold{120};
}  // namespace

std::chrono::seconds WriteBackRunner::Hold() const {
    return std::max(kShortestHold, m_context.budget * 4);
}

void WriteBackRunner::Run(const QString& instanceUid, const QuerySnapshot& snapshot) {
    StepJournal& journal = m_context.journal;
    const QueryBudget held(QueryBudget::Clock::now(), Hold(), m_context.stop);
    const StepJournal::Scope scope(journal, held);
    if (!journal.Claim(instanceUid, m_context.owner, m_context.clock.NowUtc(), Hold())) return;
    std::optional<PerformedStep> step;
    try {
        // The state may change while its predecessor is written back: the
        // step is read again after each.
        while (!m_context.stop.load() && (step = journal.Find(instanceUid))) {
            const std::optional<StepState> next = step->NextToWrite();
            if (!next || !WriteNext(*step, *next, snapshot)) break;
        }
    } catch (const MwlError&) {
        IgnoringFailures([&] { journal.Release(instanceUid, m_context.owner); });
        throw;
    }
    journal.Release(instanceUid, m_context.owner);
    if (step) Report(*step);
}

bool WriteBackRunner::WriteNext(PerformedStep& step, StepState state,
                                const QuerySnapshot& snapshot) {
    StepJournal& journal = m_context.journal;
    const QueryBudget budget(QueryBudget::Clock::now(), m_context.budget, m_context.stop);
    const QString what =
        QStringLiteral("MPPS write-back of step %1 (%2)").arg(step.instanceUid, StepStateText(state));
    try {
        step.note = m_context.writeBack.Run(step, state, snapshot, budget, [&](int items) {
            step.writtenItems = items;
            journal.Progress(step, m_context.owner);
        });
    } catch (const MwlError& error) {
        step.note = error.Description();
        journal.Progress(step, m_context.owner);
        m_context.log.Log(
            QStringLiteral("%1 failed and stays pending: %2").arg(what, error.Description()));
        return false;
    }
    step.written = state;
    step.writtenItems = 0;
    journal.Progress(step, m_context.owner);
    m_context.log.Log(QStringLiteral("%1: %2.").arg(what, step.note));
    return true;
}

QString WriteBackRunner::ResultText(const PerformedStep& step) {
    const QString note = step.note.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(step.note);
    return (step.WriteBackDue() ? QStringLiteral("pending") : QStringLiteral("done")) + note;
}

RecentStep WriteBackRunner::Entry(const PerformedStep& step) {
    return {step.updated,
            step.instanceUid,
            step.Accessions().join(QStringLiteral(", ")),
            step.PatientName(),
            step.Station(),
            StepStateText(step.state),
            ResultText(step)};
}

// The same line in the log as the window's list shows.
void WriteBackRunner::Report(const PerformedStep& step) {
    const RecentStep entry = Entry(step);
    m_context.recent.Put(entry);
    m_context.log.Log(QStringLiteral("Performed step: accession %1, patient %2, station %3, %4, "
                                     "write-back %5.")
                          .arg(OneLine(entry.accession), OneLine(entry.patient),
                               OneLine(entry.station), entry.state, OneLine(entry.writeBack)));
}
