#pragma once

#include <QSet>
#include <QVariant>
#include <vector>

#include "platform/ActivityLog.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/MatchDataset.h"

// Adds an attribute to a response only where the request holds it at the same
// level, echoing it when "Show Requested Elements" is ticked. Its failures are
// written at the top of the log and never reach the caller. One per query.
class RequestedAttributes {
public:
    RequestedAttributes(ActivityLog& log, bool showRequests)
        : m_log(log), m_showRequests(showRequests) {}
    // For the query of this request and its step item: AnswerTheRest knows
    // the keys they ask for.
    RequestedAttributes(ActivityLog& log, bool showRequests, const DicomDataset& request,
                        const DicomDataset& requestStep);

    bool ShowsRequests() const { return m_showRequests; }
    // How many keys the request asks for, at the top level and in its step
    // item: what a match holds, give or take the few it always carries.
    size_t KeyCount() const { return m_keys.size(); }
    size_t StepKeyCount() const { return m_stepKeys.size(); }
    // The "returning:" line of an attribute given to the request.
    void Echo(Tag tag, const QVariant& value) const;

    // Returns what had to change in the value to make it legal for its VR.
    ValueFixes AddIfRequested(MatchDataset& target, const DicomDataset& reference, Tag tag,
                              QVariant value) const;

    // Adds, empty, every key the request asks for that the match (or its
    // step item) does not hold yet: a modality gets every key it asked for,
    // empty where the order has no value for it.
    void AnswerTheRest(MatchDataset& match, MatchDataset& step) const;

    // Logs that an order's value had to be made legal: one line per order
    // and attribute in the query, naming both, never the value (patient data).
    void NoteFixes(const QString& order, Tag tag, ValueFixes fixes) const;

private:
    void AnswerTheRest(MatchDataset& target, const MatchDataset& empties) const;

    ActivityLog& m_log;
    const bool m_showRequests;
    // The keys of the request and of its step item, read once per query.
    std::vector<Tag> m_keys;
    std::vector<Tag> m_stepKeys;
    // The same keys, empty: what a match lacks is copied from them.
    MatchDataset m_empties;
    MatchDataset m_stepEmpties;
    mutable QSet<QString> m_noted;  // order and attribute already logged
};
