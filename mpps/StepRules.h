#pragma once

#include <optional>
#include <vector>

#include "mpps/StepState.h"
#include "platform/dicom/StepHandler.h"

// What a performed procedure step message may do, before anything is
// recorded: an N-CREATE starts a step IN PROGRESS; an N-SET changes a step
// that is still IN PROGRESS, never the attributes that identify the patient,
// the order or the station, and may end it COMPLETED or DISCONTINUED.
class StepRules {
public:
    // The refusal of an N-CREATE; none when it may be recorded.
    static std::optional<StepAnswer> CheckCreate(const StepMessage& message);
    // The refusal of an N-SET of a step now in the state; none when it may
    // be recorded.
    static std::optional<StepAnswer> CheckSet(StepState current, const StepMessage& message);

    // The top-level attributes an N-SET may not hold.
    static const std::vector<Tag>& NotSettable();
    // The answer to a change of a step that has ended.
    static StepAnswer Ended();

private:
    static std::optional<StepAnswer> CheckText(const StepMessage& message);
    static std::optional<StepAnswer> CheckStatus(const StepMessage& message, bool mustBeInProgress);
};
