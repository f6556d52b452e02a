#pragma once

#include <QString>
#include <optional>

// The TALVEK departments, by modality (matched in upper case): where a
// modality's orders are (the request table and the join to its exam names),
// and how its revenue id is written in the order statement, in the Study
// UID lookup and in the Study UID write-back. Where a field is empty, the
// modality goes into the statement as the modality sent it.
struct TalvekDepartment {
    // The request table (with the ProcDesc column) and the exam-code join of
    // the order statement; none: the modality has no order statement.
    std::optional<QString> requestTable;
    QString codeJoin;
    std::optional<QString> revenueFilter;
    // The revenue literal of the Study UID lookup, quotes included.
    std::optional<QString> lookupRevenue;
    // The table and revenue id the Study UID is written back to.
    QString updateTable;
    std::optional<QString> updateRevenue;
};

const TalvekDepartment& TalvekDepartmentOf(const QString& modality);

// The Study UID statements of an order (its RequestNum) for a modality.
QString StudyUidLookupStatement(const QString& modality, const QString& requestNum);
QString StudyUidUpdateStatement(const QString& modality, const QString& uid,
                                const QString& requestNum);
