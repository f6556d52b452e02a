#pragma once

#include <QString>

#include "platform/FailureKind.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/dicom/MatchDataset.h"

// One C-FIND request as the worklist handler sees it.
class QueryConnection {
public:
    virtual ~QueryConnection() = default;

    // "WORKLIST", "PATIENT" or "STUDY".
    virtual QString QueryRoot() const = 0;
    virtual DicomDataset Request() const = 0;
    // Sends one match with the pending status as soon as the peer takes it. While
    // many are still waiting for a slow peer this waits for room, letting
    // other events (other modalities' queries) run meanwhile. Ignored once
    // the query is abandoned.
    virtual void SendPending(MatchDataset match) = 0;
    // Ends the C-FIND with success.
    virtual void SendFinal() = 0;
    // Says what kind of failure makes the handler return without a final
    // status; the peer receives its text as the Error Comment of the failure
    // status. The details belong in the activity log.
    virtual void NoteFailure(FailureKind kind) = 0;
    // True once nobody will receive further matches: the peer cancelled the
    // query, went away, or took none for the DIMSE time-out. The handler
    // stops at the next record.
    virtual bool Abandoned() const = 0;
};
