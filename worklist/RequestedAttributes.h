#pragma once

#include <QVariant>

#include "platform/ActivityLog.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/MatchDataset.h"
#include "worklist/Switches.h"

// Adds an attribute to a response only where the request holds it at the same
// level, echoing it when "Show Requested Elements" is ticked. Its failures are
// written at the top of the log and never reach the caller.
class RequestedAttributes {
public:
    RequestedAttributes(ActivityLog& log, const Switches& switches)
        : m_log(log), m_switches(switches) {}

    // Reads "Show Requested Elements" afresh; called once per record, so a
    // change during a query takes effect from the next record.
    void ReadSwitches() { m_showRequests = m_switches.ShowRequests(); }
    bool ShowsRequests() const { return m_showRequests; }
    // The "returning:" line of an attribute given to the request.
    void Echo(Tag tag, const QVariant& value) const;

    void AddIfRequested(MatchDataset& target, const DicomDataset& reference, Tag tag,
                        QVariant value) const;

private:
    ActivityLog& m_log;
    const Switches& m_switches;
    bool m_showRequests = false;
};
