#pragma once

#include <QString>
#include <atomic>
#include <chrono>

#include "mpps/RecentSteps.h"
#include "mpps/StepJournal.h"
#include "mpps/StepWriteBack.h"
#include "platform/ActivityLog.h"
#include "platform/Clock.h"

// Brings the HIS up to date with the journal: each step whose write-back is
// due is claimed for this server, written back state by state (IN PROGRESS
// first, then the final state), its progress kept in the journal after
// every item, and released. A failure leaves the step due for the next try;
// the log and the recent steps say what happened.
class WriteBackRunner {
public:
    struct Context {
        StepJournal& journal;
        StepWriteBack& writeBack;
        RecentSteps& recent;
        ActivityLog& log;
        const Clock& clock;
        QString owner;  // this server, in the journal's claims
        std::chrono::seconds budget;  // of one state's write-back
        const std::atomic<bool>& stop;
    };

    explicit WriteBackRunner(const Context& context) : m_context(context) {}

    // One step, if it is due and nobody else holds it. Throws MwlError
    // when the journal fails.
    void Run(const QString& instanceUid, const QuerySnapshot& snapshot);

    // The write-back result as the window shows it.
    static QString ResultText(const PerformedStep& step);
    static RecentStep Entry(const PerformedStep& step);

private:
    // Writes the next state; false when that failed.
    bool WriteNext(PerformedStep& step, StepState state, const QuerySnapshot& snapshot);
    void Report(const PerformedStep& step);
    std::chrono::seconds Hold() const;

    Context m_context;
};
