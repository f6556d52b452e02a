#pragma once

#include <QString>
#include <optional>

// Performed Procedure Step Status (0040,0252): a step is created IN PROGRESS
// and ends COMPLETED or DISCONTINUED, after which it no longer changes.
enum class StepState { InProgress, Completed, Discontinued };

// "IN PROGRESS", "COMPLETED", "DISCONTINUED".
QString StepStateText(StepState state);
// The state a status value names; none for any other text.
std::optional<StepState> StepStateFrom(const QString& text);
inline bool IsFinal(StepState state) { return state != StepState::InProgress; }
