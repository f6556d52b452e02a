#include "mpps/StepState.h"

QString StepStateText(StepState state) {
    switch (state) {
        case StepState::InProgress:
            return QStringLiteral("IN PROGRESS");
        case StepState::Completed:
            return QStringLiteral("COMPLETED");
        case StepState::Discontinued:
            break;
    }
    return QStringLiteral("DISCONTINUED");
}

std::optional<StepState> StepStateFrom(const QString& text) {
    for (StepState state : {StepState::InProgress, StepState::Completed, StepState::Discontinued})
        if (text.trimmed() == StepStateText(state)) return state;
    return std::nullopt;
}
