#include "worklist/WorklistSource.h"

bool WorklistSource::StopEarly(QueryRun& run) {
    run.log.Log(QStringLiteral(
        "Stopped early: the modality cancelled the query or no longer takes answers."));
    run.connection.NoteFailure(FailureKind::QueryAbandoned);
    return false;
}
