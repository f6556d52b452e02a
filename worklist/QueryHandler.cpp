#include "worklist/QueryHandler.h"

#include <limits>

#include "platform/MwlError.h"
#include "platform/his/FieldText.h"
#include "worklist/ServiceYield.h"
#include "worklist/SingleSelect.h"
#include "worklist/Tags.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kWorklistRoot = QStringLiteral("WORKLIST");
}  // namespace

QueryHandler::QueryHandler(WorklistServices& services)
    : m_services(services),
      m_statements(services),
      m_responses(services),
      m_orderFiles(services, ServiceYield()) {}

void QueryHandler::DicomViewer1_QueryRequest(QueryConnection& connection) {
    m_services.status.SetCommState(QStringLiteral("Communicating..."));
    if (connection.QueryRoot() != kWorklistRoot) {
        m_services.log.Log(QStringLiteral("Not worklist query"));
        connection.NoteFailure(FailureKind::NotWorklistQuery);
        return;
    }
    try {
        if (Handle(connection)) Complete(connection);
    } catch (const MwlError& error) {
        Fail(connection, error.Description(), error.Kind());
    } catch (const std::exception& error) {
        Fail(connection, QString::fromLocal8Bit(error.what()), FailureKind::Unspecified);
    }
}

// Returns true when the query goes on to the success status.
bool QueryHandler::Handle(QueryConnection& connection) {
    const Query query = ReadRequest(connection);
    m_services.log.Replace(query.modality + kCrLf);
    if (!query.request.TextProblem().isEmpty()) m_services.log.Log(query.request.TextProblem());
    if (m_services.switches.ShowRequests()) EchoRequest(query.request);
    if (query.mode == Modes::Bramwoods && !m_orderFiles.Run(connection, query.request))
        return StopEarly(connection);
    if (!Modes::IsDatabase(query.mode)) return true;
    const QString sql =
        m_statements.Build(query.mode, {query.request, query.requestStep, query.modality});
    return RunDatabaseQuery(connection, query, sql);
}

QueryHandler::Query QueryHandler::ReadRequest(const QueryConnection& connection) const {
    const DicomDataset request = connection.Request();
    const auto step = request.SequenceItem(Tags::StepSequence);
    if (!step)
        throw MwlError(QStringLiteral("The request has no Scheduled Procedure Step Sequence item."),
                       FailureKind::RequestWithoutStep);
    return {request, *step, step->Item(Tags::Modality).Text(), m_services.state.ConnectionMode};
}

void QueryHandler::EchoRequest(const DicomDataset& request) {
    QString echo;
    for (const DicomAttribute& attribute : request.Attributes())
        echo += kCrLf + attribute.Description() + QLatin1Char(' ') +
                QString::number(attribute.Group()) + QLatin1Char(' ') +
                QString::number(attribute.Element()) + QStringLiteral(" : ");
    m_services.log.Append(echo);
}

bool QueryHandler::RunDatabaseQuery(QueryConnection& connection, const Query& query, QString sql) {
    if (m_services.switches.ReturnThisQuery()) {
        sql = m_services.switches.SqlBoxText();
        // The box may still hold an UPDATE or a script the operator tried on
        // the console; only a statement that just reads is run for every query.
        if (!sql.isEmpty() && !IsSingleSelect(sql))
            throw MwlError(QStringLiteral("Return this Query runs a single SELECT statement only."),
                           FailureKind::ServerConfiguration);
    }
    if (sql.isEmpty()) {
        connection.NoteFailure(FailureKind::NoStatement);
        return false;
    }
    m_services.status.ShowSql(sql);
    m_services.his.EnsureCurrent();
    const std::unique_ptr<Recordset> records = m_services.his.Execute(sql);
    qint64 count = 0;
    m_services.log.Log(QStringLiteral("looping"));
    while (!records->Eof()) {
        const qint64 limit = ResultLimit();
        if (count >= limit) break;
        // Checked before the record is built, so nothing (no Study UID
        // either) is written for a record that will not be sent.
        if (connection.Abandoned()) return StopEarly(connection);
        ++count;
        records->LimitRemaining(limit - count);
        SendMatch(connection, query, *records);
        records->MoveNext();
    }
    return true;
}

// The modality cancelled, went away or stopped reading: nobody receives the
// rest, and the service thread is free for the other modalities at once.
bool QueryHandler::StopEarly(QueryConnection& connection) {
    m_services.log.Log(QStringLiteral(
        "Stopped early: the modality cancelled the query or no longer takes answers."));
    connection.NoteFailure(FailureKind::QueryAbandoned);
    return false;
}

void QueryHandler::SendMatch(QueryConnection& connection, const Query& query,
                             const Recordset& record) {
    MatchDataset response;
    MatchDataset& responseStep = response.AddSequenceItem(Tags::StepSequence);
    const NameParts name =
        m_responses.Fill(response, responseStep,
                         {query.request, query.requestStep, record, query.modality, query.mode});
    const QString line = QStringLiteral("done.. ") + response.Text(Tags::PatientId) + " Req# " +
                         FieldText(record.Field(QStringLiteral("RequestNum"))) +
                         " HN: " + FieldText(record.Field(QStringLiteral("HN"))) +
                         " name: " + name.last + "," + name.first + " " + name.middle +
                         " return:" + response.Text(Tags::PatientName);
    connection.SendPending(std::move(response));
    m_services.log.Log(line);
}

// Read afresh for every record, so the operator can change it during a query.
qint64 QueryHandler::ResultLimit() const {
    const QString text =
        m_services.settings.Read(QStringLiteral("Modality WorkList"), QStringLiteral("Settings"),
                                 QStringLiteral("ResultQueryNumber"), QStringLiteral("300"));
    bool ok = false;
    const qint64 limit = text.trimmed().toLongLong(&ok);
    if (!ok || limit > std::numeric_limits<qint32>::max())
        throw MwlError(
            QStringLiteral("Type mismatch: ResultQueryNumber '%1' is not a number").arg(text),
            FailureKind::ServerConfiguration);
    return limit;
}

void QueryHandler::Complete(QueryConnection& connection) {
    // Abandoned during the last match: the answer did not arrive whole.
    if (connection.Abandoned()) {
        StopEarly(connection);
        return;
    }
    connection.SendFinal();
    m_services.status.SetCommState(QStringLiteral("Communicating...Done."));
}

// The log gets the whole description; the peer only the kind of failure.
void QueryHandler::Fail(QueryConnection& connection, const QString& description,
                        FailureKind kind) {
    m_services.log.Log(QStringLiteral("Query Request error: ") + description);
    connection.NoteFailure(kind);
    // A statement that ran out of time leaves a working connection. Reopening
    // it would wait on the same lock or server again, and a driver's connect
    // can wait several time-outs, all while every other modality waits.
    if (kind != FailureKind::HisTimeout) m_services.his.Reopen();
}
