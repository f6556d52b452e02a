#include "worklist/QueryHandler.h"

#include "platform/MwlError.h"
#include "platform/his/HisScope.h"
#include "worklist/SourceFor.h"
#include "worklist/Tags.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kWorklistRoot = QStringLiteral("WORKLIST");
}  // namespace

QueryHandler::QueryHandler(std::unique_ptr<HisConnection> his, const Shared& shared)
    : m_his(std::move(his)),
      m_shared(shared),
      m_resources{*m_his,         shared.uids,          shared.clock,
                  shared.status, shared.studyUidLocks, shared.orderFiles} {}

void QueryHandler::DicomViewer1_QueryRequest(QueryConnection& connection,
                                             const QueryBudget& budget) {
    m_shared.status.SetCommState(QStringLiteral("Communicating..."));
    if (connection.QueryRoot() != kWorklistRoot) {
        m_shared.log.Log(QStringLiteral("Not worklist query"));
        connection.NoteFailure(FailureKind::NotWorklistQuery);
        return;
    }
    const std::shared_ptr<const QuerySnapshot> settings = m_shared.settings.Current();
    const HisScope scope(*m_his, budget);
    FollowConnectionString(*settings);
    try {
        if (Handle(connection, *settings)) Complete(connection);
    } catch (const MwlError& error) {
        Fail(connection, error.Description(), error.Kind());
    } catch (const std::exception& error) {
        Fail(connection, QString::fromLocal8Bit(error.what()), FailureKind::Unspecified);
    }
}

bool QueryHandler::OpenHis(const QueryBudget& budget) {
    const HisScope scope(*m_his, budget);
    FollowConnectionString(*m_shared.settings.Current());
    try {
        m_his->EnsureCurrent();
    } catch (const MwlError& error) {
        m_shared.log.Log(error.Description());
    }
    return m_his->IsOpen();
}

// A mode chosen (again) since the last query: its connection string from now on.
void QueryHandler::FollowConnectionString(const QuerySnapshot& settings) {
    if (settings.connectionGeneration == m_followed) return;
    m_followed = settings.connectionGeneration;
    m_his->UseConnectionString(settings.connectionString);
}

// Returns true when the query goes on to the success status.
bool QueryHandler::Handle(QueryConnection& connection, const QuerySnapshot& settings) {
    const RequestKeys keys = ReadRequest(connection);
    ActivityLog& log = m_shared.log;
    log.Replace(keys.modality + kCrLf);
    if (!keys.request.TextProblem().isEmpty()) log.Log(keys.request.TextProblem());
    if (settings.switches.showRequests) EchoRequest(keys.request);
    QueryRun run{connection, keys, settings, log, m_resources};
    return SourceFor(settings.mode).Answer(run);
}

RequestKeys QueryHandler::ReadRequest(const QueryConnection& connection) const {
    const DicomDataset request = connection.Request();
    const auto step = request.SequenceItem(Tags::StepSequence);
    if (!step)
        throw MwlError(QStringLiteral("The request has no Scheduled Procedure Step Sequence item."),
                       FailureKind::RequestWithoutStep);
    return {request, *step, step->Item(Tags::Modality).Text()};
}

void QueryHandler::EchoRequest(const DicomDataset& request) {
    QString echo;
    for (const DicomAttribute& attribute : request.Attributes())
        echo += kCrLf + attribute.Description() + QLatin1Char(' ') +
                QString::number(attribute.Group()) + QLatin1Char(' ') +
                QString::number(attribute.Element()) + QStringLiteral(" : ");
    m_shared.log.Append(echo);
}

void QueryHandler::Complete(QueryConnection& connection) {
    // Abandoned during the last match: the answer did not arrive whole.
    if (connection.Abandoned()) {
        m_shared.log.Log(QStringLiteral(
            "Stopped early: the modality cancelled the query or no longer takes answers."));
        connection.NoteFailure(FailureKind::QueryAbandoned);
        return;
    }
    connection.SendFinal();
    m_shared.status.SetCommState(QStringLiteral("Communicating...Done."));
}

// The log gets the whole description; the peer only the kind of failure.
void QueryHandler::Fail(QueryConnection& connection, const QString& description,
                        FailureKind kind) {
    m_shared.log.Log(QStringLiteral("Query Request error: ") + description);
    connection.NoteFailure(kind);
    if (PolicyFor(kind).reopensHis) m_his->ReopenAfterFailure();
}
