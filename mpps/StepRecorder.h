#pragma once

#include <optional>

#include "mpps/PerformedStep.h"
#include "mpps/StepJournal.h"
#include "platform/Clock.h"
#include "platform/dicom/StepHandler.h"
#include "platform/dicom/UidGenerator.h"

// Applies one N-CREATE or N-SET to the journal under the state rules: the
// answer is success only once the step is in the journal.
class StepRecorder {
public:
    StepRecorder(StepJournal& journal, UidGenerator& uids, const Clock& clock)
        : m_journal(journal), m_uids(uids), m_clock(clock) {}

    struct Outcome {
        StepAnswer answer;
        std::optional<PerformedStep> step;  // as recorded; none when refused
    };
    // Throws MwlError when the journal fails: nothing is promised then.
    Outcome Record(const StepMessage& message);

private:
    Outcome Create(const StepMessage& message);
    Outcome Set(const StepMessage& message);

    StepJournal& m_journal;
    UidGenerator& m_uids;
    const Clock& m_clock;
};
