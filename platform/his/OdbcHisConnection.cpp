#include "platform/his/OdbcHisConnection.h"

#include <fcntl.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAtomicInt>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/FileHead.h"
#include "platform/MwlError.h"
#include "platform/ServiceStatus.h"
#include "platform/his/OdbcConnectionString.h"
#include "platform/his/OdbcParameters.h"
#include "platform/his/OdbcRecordset.h"

namespace {

QString NewConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("his-%1").arg(counter.fetchAndAddRelaxed(1));
}

// Qt Sql's list of connections is changed from every query worker's thread as
// it makes or ends its connection; Qt guards it with a lock race detectors
// cannot see, so the changes also take this one. Nothing else reads the list:
// each connection keeps its own handle.
std::mutex& ConnectionListMutex() {
    static std::mutex mutex;
    return mutex;
}

SQLHANDLE StatementHandle(const QSqlQuery& query) {
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (handle.metaType() != QMetaType::fromType<SQLHANDLE>()) return nullptr;
    return *static_cast<const SQLHANDLE*>(handle.constData());
}

constexpr auto kLockRetryPause = std::chrono::milliseconds(50);

// Why the file cannot be read as a database file; empty when it can (or when
// there is no file).
QString FileAccessProblem(const QString& path) {
    if (path.isEmpty()) return QString();
    const int file = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) return QString::fromLocal8Bit(std::strerror(errno));
    struct stat info {};
    const bool examined = ::fstat(file, &info) == 0;
    ::close(file);
    if (examined && !S_ISREG(info.st_mode))
        return QStringLiteral("it is ") + FileKindText(info.st_mode);
    return QString();
}

// SQLITE_BUSY and SQLITE_LOCKED: another connection holds the lock.
bool IsLockWait(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6") ||
           error.text().contains(QLatin1String("database is locked"));
}

}  // namespace

OdbcHisConnection::OdbcHisConnection(ActivityLog& log, QString connectionString,
                                     StatementWatch* watch)
    : m_log(log), m_watch(watch), m_name(NewConnectionName()) {
    SetConnectionString(connectionString);
    std::lock_guard lock(ConnectionListMutex());
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
}

OdbcHisConnection::~OdbcHisConnection() {
    if (m_streaming) m_streaming->Detach();
    m_db.close();
    m_db = QSqlDatabase();
    std::lock_guard lock(ConnectionListMutex());
    QSqlDatabase::removeDatabase(m_name);
}

void OdbcHisConnection::SetConnectionString(const QString& text) {
    m_connectionString = text;
    m_dialect = OdbcConnectionString(text).Dialect();
}

void OdbcHisConnection::SetQueryTimeout(int seconds) {
    m_timeoutSeconds = seconds > 0 ? seconds : kDefaultQueryTimeoutSeconds;
}

void OdbcHisConnection::BeginQuery(const QueryBudget& budget) {
    m_queryBudget = &budget;
    m_attempted = false;
}

void OdbcHisConnection::EndQuery() {
    // The rows a query left unread must not read under its budget later.
    if (m_streaming) m_streaming->BufferRemaining();
    m_queryBudget = nullptr;
}

void OdbcHisConnection::UseConnectionString(const QString& text) {
    if (text == m_connectionString) return;
    Close();
    SetConnectionString(text);
}

bool OdbcHisConnection::IsOpen() const {
    return m_db.isOpen();
}

const QueryBudget& OdbcHisConnection::Budget() const {
    return m_queryBudget ? *m_queryBudget : *m_callBudget;
}

const QueryBudget& OdbcHisConnection::CallBudget() {
    if (m_queryBudget) return *m_queryBudget;
    m_callBudget = std::make_unique<QueryBudget>(
        QueryBudget::Clock::now(), std::chrono::seconds(m_timeoutSeconds), m_neverStops);
    return *m_callBudget;
}

void OdbcHisConnection::Reopen() {
    if (m_connectionString.isEmpty()) return;
    Close();
    Open(m_db);
}

void OdbcHisConnection::ReopenAfterFailure() {
    if (!m_attempted) Reopen();
}

void OdbcHisConnection::Close() {
    // An unfinished statement would keep the old connection from closing.
    if (m_streaming) m_streaming->BufferRemaining();
    m_streaming = nullptr;
    IgnoringFailures([&] { m_db.close(); });
}

// A missing SQLite file is not opened: the driver would create an empty
// database in its place and every query would answer "no orders".
void OdbcHisConnection::Open(QSqlDatabase& db) {
    m_attempted = true;
    const OdbcConnectionString parsed(m_connectionString);
    m_databaseFile = parsed.SqliteFile();
    m_openedFile.reset();
    if (!m_databaseFile.isEmpty()) {
        // Taken before opening: a file replaced meanwhile then shows as
        // replaced at the next query instead of being served as current.
        m_openedFile = FileStampOf(m_databaseFile);
        if (!m_openedFile) {
            CannotConnect(
                QStringLiteral("The HIS database file %1 does not exist.").arg(m_databaseFile));
            return;
        }
    }
    const QueryBudget& budget = CallBudget();
    db.setDatabaseName(parsed.WithLockWait(kSqliteLockSliceMs));
    db.setConnectOptions(
        QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(budget.RemainingSeconds()));
    bool opened = false;
    {
        StatementWatch::Call call(m_watch, budget);
        call.Arm(QStringLiteral("the connection attempt"));
        opened = db.open();
    }
    if (opened) {
        m_openFailure.clear();
        return Answered();
    }
    m_openedFile.reset();
    const QString where = parsed.Where();
    QString why = db.lastError().text() +
                  (where.isEmpty() ? QString() : QStringLiteral(" (HIS: %1)").arg(where));
    // SQLite's driver says only "connect failed"; the file itself tells why.
    if (const QString problem = FileAccessProblem(m_databaseFile); !problem.isEmpty())
        why += QStringLiteral(" (the HIS database file %1 cannot be opened: %2)")
                   .arg(m_databaseFile, problem);
    CannotConnect(why);
}

// An event of its own, stamped, whatever was logged before it; kept, so a
// query that finds the connection closed says why.
void OdbcHisConnection::CannotConnect(const QString& why) {
    m_openFailure = why;
    m_log.Log(QStringLiteral("Cannot Connect. ") + why);
    Failed(FailureKind::HisNotAvailable);
}

void OdbcHisConnection::Answered() const {
    if (m_status) m_status->HisAnswered();
}

void OdbcHisConnection::Failed(FailureKind kind) const {
    if (m_status) m_status->HisFailed(ErrorCommentFor(kind));
}

void OdbcHisConnection::EnsureCurrent() {
    if (m_connectionString.isEmpty() || !IsOpen()) return Recover();
    if (m_databaseFile.isEmpty() || !m_openedFile) return;
    const std::optional<FileStamp> now = FileStampOf(m_databaseFile);
    if (now && now->SameFile(*m_openedFile)) return;
    if (!now) {
        Failed(FailureKind::HisNotAvailable);
        throw MwlError(
            QStringLiteral("The HIS database file %1 was moved or deleted.").arg(m_databaseFile),
            FailureKind::HisNotAvailable);
    }
    m_log.Log(
        QStringLiteral("The HIS database file %1 was replaced; reopening it.").arg(m_databaseFile));
    Reopen();
}

// One try per query: the connection string is read again (it may have been
// missing or wrong at start) and the connection opened with it.
void OdbcHisConnection::Recover() {
    if (m_source) {
        try {
            if (const auto text = m_source()) SetConnectionString(*text);
        } catch (const MwlError& error) {
            m_log.Log(error.Description());
        }
    }
    Reopen();
}

std::unique_ptr<Recordset> OdbcHisConnection::Execute(const QString& sql) {
    return Execute(sql, {});
}

std::unique_ptr<Recordset> OdbcHisConnection::Execute(const QString& sql,
                                                      const SqlParameters& parameters) {
    // The values must stay readable as long as the driver may read them:
    // the recordset keeps them.
    std::shared_ptr<OdbcParameters> bound;
    if (!parameters.isEmpty()) bound = std::make_shared<OdbcParameters>(sql, parameters);
    const QString& statement = bound ? bound->Statement() : sql;
    QSqlDatabase& db = m_db;
    if (!db.isOpen()) throw NotOpen();
    if (m_streaming) m_streaming->BufferRemaining();
    CallBudget();
    StatementWatch::Call call(m_watch, Budget());
    auto handle = std::make_shared<std::atomic<SQLHANDLE>>(nullptr);
    std::function<void()> cancel;
    if (Cancellable())
        cancel = [handle] {
            if (SQLHANDLE statement = handle->load()) SQLCancel(statement);
        };
    call.Arm(QStringLiteral("the statement"), cancel);
    for (;;) {
        const auto attempt = QueryBudget::Clock::now();
        QSqlQuery query(db);
        query.setForwardOnly(true);
        // Prepared first, so the time-out is on the statement before it runs.
        bool ran = query.prepare(statement);
        if (ran) {
            handle->store(StatementHandle(query));
            if (bound) {
                if (const QString problem = bound->BindTo(StatementHandle(query)); !problem.isEmpty())
                    throw MwlError(problem, FailureKind::HisQueryFailed);
            }
            LimitStatementTime(query);
            ran = query.exec();
        }
        if (ran) {
            call.Disarm();
            Answered();
            auto recordset = std::make_unique<OdbcRecordset>(static_cast<RecordsetHost*>(this), std::move(query));
            recordset->KeepAlive(bound);
            if (!recordset->Eof()) m_streaming = recordset.get();
            return recordset;
        }
        const QSqlError error = query.lastError();
        handle->store(nullptr);
        if (!RetryAfterLock(error)) {
            call.Disarm();
            throw Failure(error, call.CancelledFor());
        }
        // A driver that reports the lock without waiting for it is not
        // asked again at once.
        if (QueryBudget::Clock::now() - attempt < kLockRetryPause)
            std::this_thread::sleep_for(kLockRetryPause);
    }
}

// Names why the last attempt to open failed, so the query's failure says
// what is wrong with the HIS, not only that it could not be used.
MwlError OdbcHisConnection::NotOpen() const {
    if (m_connectionString.isEmpty())
        return MwlError(QStringLiteral("The HIS connection is not open (connection string: none)."),
                        FailureKind::HisNotAvailable);
    if (m_openFailure.isEmpty())
        return MwlError(QStringLiteral("The HIS connection is not open (connection string: set)."),
                        FailureKind::HisNotAvailable);
    return MwlError(QStringLiteral("The HIS connection is not open: ") + m_openFailure,
                    FailureKind::HisNotAvailable);
}

bool OdbcHisConnection::RetryAfterLock(const QSqlError& error) const {
    const QueryBudget& budget = Budget();
    return m_dialect == SqlDialect::Sqlite && IsLockWait(error) && !budget.Expired() &&
           !budget.Stopping();
}

// A time-out is a time-out only when the deadline has really come (the watch
// cancelled the call, or the budget was spent when the error came); an error
// of any other moment is the HIS's own, and reopens the connection.
MwlError OdbcHisConnection::Failure(const QSqlError& error,
                                    StatementWatch::Cancelled cancelled) const {
    const QueryBudget& budget = Budget();
    if (cancelled == StatementWatch::Cancelled::Stop || budget.Stopping())
        return MwlError(
            QStringLiteral("The server is stopping; the HIS statement was cancelled (%1).")
                .arg(error.text()),
            FailureKind::ServerStopping);
    if (cancelled == StatementWatch::Cancelled::Deadline || budget.Expired()) {
        Failed(FailureKind::HisTimeout);
        return MwlError(QStringLiteral("The HIS did not answer within the time-out of %1 s "
                                       "(QueryTimeoutSeconds): %2")
                            .arg(budget.Seconds())
                            .arg(error.text()),
                        FailureKind::HisTimeout);
    }
    Failed(FailureKind::HisQueryFailed);
    return MwlError(error.text(), FailureKind::HisQueryFailed);
}

void OdbcHisConnection::LimitStatementTime(const QSqlQuery& query) const {
    SQLHANDLE statement = StatementHandle(query);
    if (statement == nullptr) return;
    // A driver without the attribute (SQLite's) ignores it; nothing to report.
    SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(Budget().RemainingSeconds())),
                   SQL_IS_UINTEGER);
}

void OdbcHisConnection::Forget(OdbcRecordset* recordset) {
    if (m_streaming == recordset) m_streaming = nullptr;
}
