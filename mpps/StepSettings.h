#pragma once

#include <QString>
#include <chrono>
#include <optional>

#include "mpps/StepState.h"

// The "PACS" "MPPS" settings: where the journal is, what the HIS is told at
// each state of a step, where finished order files go, and how often a
// write-back that failed is tried again.
struct StepSettings {
    // Journal: the ODBC connection string of the journal database.
    QString journal;
    // InProgressStatement, CompletedStatement, DiscontinuedStatement as the
    // site set them (an empty one runs nothing); unset: the mode's default.
    std::optional<QString> inProgressStatement;
    std::optional<QString> completedStatement;
    std::optional<QString> discontinuedStatement;
    // OrderFilesDoneFolder: relative to the order folder unless absolute.
    QString orderFilesDoneFolder = QStringLiteral("done");
    std::chrono::seconds retryInterval{60};

    const std::optional<QString>& Statement(StepState state) const {
        return state == StepState::InProgress  ? inProgressStatement
               : state == StepState::Completed ? completedStatement
                                               : discontinuedStatement;
    }
    // "InProgressStatement", "CompletedStatement", "DiscontinuedStatement".
    static QString StatementKey(StepState state) {
        return state == StepState::InProgress  ? QStringLiteral("InProgressStatement")
               : state == StepState::Completed ? QStringLiteral("CompletedStatement")
                                               : QStringLiteral("DiscontinuedStatement");
    }
};
