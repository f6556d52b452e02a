#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

#include "mpps/StepState.h"
#include "platform/dicom/DicomDataset.h"
#include "platform/his/HisConnection.h"

// One Modality Performed Procedure Step as the journal keeps it: its state,
// every attribute the modality sent (the N-SETs merged into the N-CREATE's),
// who sent it, and how far its write-back to the HIS has come.
struct PerformedStep {
    QString instanceUid;
    StepState state = StepState::InProgress;
    QString callingAeTitle;
    DicomDataset attributes;
    QDateTime created;  // UTC
    QDateTime updated;  // UTC, the last accepted message
    // Each accepted change counts up, so a change made on the version read
    // cannot overwrite another server's change made meanwhile.
    qint64 version = 1;
    // The write-back: the last state whose statements all ran (none yet),
    // how many Scheduled Step Attributes items of the next one did, and what
    // the last attempt said.
    std::optional<StepState> written;
    int writtenItems = 0;
    QString note;

    // The state whose write-back comes next: IN PROGRESS first, then the
    // final state; none when the write-back has caught up.
    std::optional<StepState> NextToWrite() const;
    bool WriteBackDue() const { return NextToWrite().has_value(); }

    // The accession numbers of the Scheduled Step Attributes items, without
    // empty and repeated ones.
    QStringList Accessions() const;
    QString PatientName() const;
    QString PatientId() const;
    QString Station() const;
    int ScheduledSteps() const;
    // The named parameters of the write-back statements for one Scheduled
    // Step Attributes item: AccessionNumber, RequestedProcedureID,
    // ScheduledProcedureStepID and StudyInstanceUID from the item,
    // PerformedProcedureStepID, PerformedStationAETitle, StartDateTime and
    // EndDateTime ("YYYY-MM-DD HH:MM:SS") from the step. An empty value is
    // SQL NULL.
    SqlParameters ItemParameters(int item) const;
    static QStringList ParameterNames();
};
