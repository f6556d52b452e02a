#pragma once

#include <QVariant>

#include "platform/ActivityLog.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/MatchDataset.h"

// Adds an attribute to a response only where the request holds it at the same
// level, echoing it when "Show Requested Elements" is ticked. Its failures are
// written at the top of the log and never reach the caller.
class RequestedAttributes {
public:
    RequestedAttributes(ActivityLog& log, bool showRequests)
        : m_log(log), m_showRequests(showRequests) {}

    bool ShowsRequests() const { return m_showRequests; }
    // The "returning:" line of an attribute given to the request.
    void Echo(Tag tag, const QVariant& value) const;

    void AddIfRequested(MatchDataset& target, const DicomDataset& reference, Tag tag,
                        QVariant value) const;

private:
    ActivityLog& m_log;
    const bool m_showRequests;
};
