#include "worklist/DatabaseSource.h"

#include "platform/MwlError.h"
#include "platform/his/FieldText.h"
#include "worklist/MatchFill.h"
#include "worklist/SingleSelect.h"
#include "worklist/StudyUidLocks.h"
#include "worklist/Tags.h"
#include "worklist/talvek/TalvekDepartments.h"

bool DatabaseSource::Answer(QueryRun& run) const {
    const QString sql = StatementToRun(run);
    if (sql.isEmpty()) {
        run.connection.NoteFailure(FailureKind::NoStatement);
        return false;
    }
    run.resources.status.ShowSql(sql);
    HisConnection& his = run.resources.his;
    his.EnsureCurrent();
    const std::unique_ptr<Recordset> records = his.Execute(sql);
    const RequestedAttributes requested(run.log, run.settings.switches.showRequests,
                                        run.keys.request, run.keys.requestStep);
    qint64 count = 0;
    run.log.Log(QStringLiteral("looping"));
    while (!records->Eof()) {
        const qint64 limit = run.settings.ResultLimit();
        if (count >= limit) break;
        // Checked before the record is built, so nothing (no Study UID
        // either) is written for a record that will not be sent.
        if (run.connection.Abandoned()) return StopEarly(run);
        ++count;
        records->LimitRemaining(limit - count);
        SendMatch(run, *records, requested);
        records->MoveNext();
    }
    return true;
}

// The statement is built in every case, so its lines reach the log; the SQL
// box replaces it with "Return this Query".
QString DatabaseSource::StatementToRun(QueryRun& run) const {
    QString sql =
        Statement({run.keys, run.settings, DialectOf(run.resources.his.Dialect()), run.log});
    const Switches& switches = run.settings.switches;
    if (!switches.returnThisQuery) return sql;
    sql = switches.sqlBoxText;
    // The box may still hold an UPDATE or a script the operator tried on the
    // console; only a statement that just reads is run for every query.
    if (!sql.isEmpty() && !IsSingleSelect(sql))
        throw MwlError(QStringLiteral("Return this Query runs a single SELECT statement only."),
                       FailureKind::ServerConfiguration);
    return sql;
}

void DatabaseSource::SendMatch(QueryRun& run, const Recordset& record,
                               const RequestedAttributes& requested) const {
    MatchFill fill(run, *this, record, requested);
    FillMatch(fill);
    fill.AnswerTheRest();
    const NameParts& name = fill.Name();
    const QString line = QStringLiteral("done.. ") + fill.Response().Text(Tags::PatientId) +
                         " Req# " + FieldText(record.Field(QStringLiteral("RequestNum"))) +
                         " HN: " + FieldText(record.Field(QStringLiteral("HN"))) +
                         " name: " + name.last + "," + name.first + " " + name.middle +
                         " return:" + fill.Response().Text(Tags::PatientName);
    run.connection.SendPending(fill.TakeResponse());
    run.log.Log(line);
}

// With "Generate Study UID" the order's UID is the one stored with its
// request; two queries for the same order take turns, so the first one's
// write-back is what the second one finds.
QString DatabaseSource::StudyUid(const QueryRun& run, const Recordset& record) const {
    QueryResources& resources = run.resources;
    if (!run.settings.switches.generateStudyUid) return resources.uids.NewUid();
    const QString requestNum = FieldText(record.Field(QStringLiteral("RequestNum")));
    const StudyUidLocks::Held turn(resources.studyUidLocks,
                                   Name() + QLatin1Char('/') + requestNum);
    HisConnection& his = resources.his;
    const QString& modality = run.keys.modality;
    const auto lookup = his.Execute(StudyUidLookupStatement(modality, requestNum));
    QString uid;
    // No request row: nothing can be stored, so the record gets a fresh UID
    // of its own rather than none (or another record's).
    if (lookup->Eof()) {
        uid = resources.uids.NewUid();
    } else {
        uid = FieldText(lookup->Field(QStringLiteral("StudyUID")));
        if (uid.isEmpty()) {
            uid = resources.uids.NewUid();
            his.Execute(StudyUidUpdateStatement(modality, uid, requestNum));
        }
    }
    run.log.AppendLog(uid);
    return uid;
}
