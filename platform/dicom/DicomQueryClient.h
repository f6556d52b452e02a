#pragma once

#include <QString>
#include <vector>

#include "platform/dicom/DicomDataset.h"

// Where a C-FIND goes.
struct FindTarget {
    QString host;
    int port = 0;
    QString calledAe;
    QString callingAe;
    // "WORKLIST", "PATIENT" or "STUDY".
    QString root = QStringLiteral("WORKLIST");
};

// How long the client waits for the connection, the association's
// negotiation and release, and each DIMSE message.
struct FindTimeouts {
    int connectSeconds = 10;
    int acseSeconds = 30;
    int dimseSeconds = 60;
};

// A C-FIND client (SCU). Find blocks until the query has ended, so it runs
// off the window's thread; the identifier must not be used elsewhere while it
// runs.
class DicomQueryClient {
public:
    // Every match the peer sent, in arrival order. Throws MwlError saying
    // what went wrong when the peer cannot be reached, the association is
    // rejected, a time-out passes or the query ends with a failure status
    // (with the peer's Error Comment).
    static std::vector<DicomDataset> Find(const FindTarget& target, const DicomDataset& identifier,
                                          const FindTimeouts& timeouts = {});
};
