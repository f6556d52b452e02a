#include "platform/his/OdbcHisConnection.h"

#include <sql.h>
#include <sqlext.h>

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>

#include "platform/MwlError.h"
#include "platform/his/OdbcConnectionString.h"
#include "platform/his/OdbcRecordset.h"
#include "platform/his/StatementClock.h"

namespace {
QString NewConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("his-%1").arg(counter.fetchAndAddRelaxed(1));
}
}  // namespace

OdbcHisConnection::OdbcHisConnection(ActivityLog& log, QString connectionString)
    : m_log(log), m_connectionString(std::move(connectionString)), m_name(NewConnectionName()) {
    QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
}

OdbcHisConnection::~OdbcHisConnection() {
    if (m_streaming) m_streaming->Detach();
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

void OdbcHisConnection::SetQueryTimeout(int seconds) {
    m_timeoutSeconds = seconds > 0 ? seconds : kDefaultQueryTimeoutSeconds;
}

bool OdbcHisConnection::IsOpen() const {
    return QSqlDatabase::database(m_name, false).isOpen();
}

void OdbcHisConnection::Reopen() {
    if (m_connectionString.isEmpty()) return;
    Close();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    Open(db);
}

void OdbcHisConnection::Close() {
    // An unfinished statement would keep the old connection from closing.
    if (m_streaming) m_streaming->BufferRemaining();
    m_streaming = nullptr;
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    IgnoringFailures([&] { db.close(); });
}

// A missing SQLite file is not opened: the driver would create an empty
// database in its place and every query would answer "no orders".
void OdbcHisConnection::Open(QSqlDatabase& db) {
    const OdbcConnectionString parsed(m_connectionString);
    m_databaseFile = parsed.SqliteFile();
    m_openedFile.reset();
    if (!m_databaseFile.isEmpty()) {
        // Taken before opening: a file replaced meanwhile then shows as
        // replaced at the next query instead of being served as current.
        m_openedFile = FileStampOf(m_databaseFile);
        if (!m_openedFile) {
            m_log.AppendLog(
                QStringLiteral("Cannot Connect. The HIS database file %1 does not exist.")
                    .arg(m_databaseFile));
            return;
        }
    }
    db.setDatabaseName(parsed.WithLockWait(m_timeoutSeconds * 1000LL));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(m_timeoutSeconds));
    if (db.open()) return;
    m_openedFile.reset();
    m_log.AppendLog(QStringLiteral("Cannot Connect. ") + db.lastError().text());
}

void OdbcHisConnection::EnsureCurrent() {
    if (m_connectionString.isEmpty() || !IsOpen()) return Recover();
    if (m_databaseFile.isEmpty() || !m_openedFile) return;
    const std::optional<FileStamp> now = FileStampOf(m_databaseFile);
    if (now && now->SameFile(*m_openedFile)) return;
    if (!now)
        throw MwlError(
            QStringLiteral("The HIS database file %1 was moved or deleted.").arg(m_databaseFile),
            FailureKind::HisNotAvailable);
    m_log.AppendLog(
        QStringLiteral("The HIS database file %1 was replaced; reopening it.").arg(m_databaseFile));
    Reopen();
}

// One try per query: the connection string is read again (it may have been
// missing or wrong at start) and the connection opened with it.
void OdbcHisConnection::Recover() {
    if (m_source) {
        try {
            if (const auto text = m_source()) m_connectionString = *text;
        } catch (const MwlError& error) {
            m_log.Log(error.Description());
        }
    }
    Reopen();
}

std::unique_ptr<Recordset> OdbcHisConnection::Execute(const QString& sql) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        throw MwlError(
            QStringLiteral("The HIS connection is not open (connection string: %1).")
                .arg(m_connectionString.isEmpty() ? QStringLiteral("none") : QStringLiteral("set")),
            FailureKind::HisNotAvailable);
    if (m_streaming) m_streaming->BufferRemaining();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const StatementClock clock(m_timeoutSeconds);
    // Prepared first, so the time-out is on the statement before it runs.
    if (!query.prepare(sql)) throw clock.Failure(query.lastError());
    LimitStatementTime(query);
    if (!query.exec()) throw clock.Failure(query.lastError());
    auto recordset = std::make_unique<OdbcRecordset>(this, std::move(query), m_timeoutSeconds);
    if (!recordset->Eof()) m_streaming = recordset.get();
    return recordset;
}

void OdbcHisConnection::LimitStatementTime(const QSqlQuery& query) const {
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (handle.metaType() != QMetaType::fromType<SQLHANDLE>()) return;
    SQLHANDLE statement = *static_cast<const SQLHANDLE*>(handle.constData());
    if (statement == nullptr) return;
    // A driver without the attribute (SQLite's) ignores it; nothing to report.
    SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_timeoutSeconds)),
                   SQL_IS_UINTEGER);
}

void OdbcHisConnection::Forget(OdbcRecordset* recordset) {
    if (m_streaming == recordset) m_streaming = nullptr;
}
