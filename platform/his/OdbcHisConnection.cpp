#include "platform/his/OdbcHisConnection.h"

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlQuery>

#include "platform/MwlError.h"
#include "platform/his/OdbcRecordset.h"

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

bool OdbcHisConnection::IsOpen() const {
    return QSqlDatabase::database(m_name, false).isOpen();
}

void OdbcHisConnection::Reopen() {
    if (m_connectionString.isEmpty()) return;
    Close();
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    db.setDatabaseName(m_connectionString);
    if (!db.open())
        m_log.AppendLog(QStringLiteral("Cannot Connect. ") + db.lastError().text());
}

void OdbcHisConnection::Close() {
    // An unfinished statement would keep the old connection from closing.
    if (m_streaming) IgnoringFailures([&] { m_streaming->BufferRemaining(); });
    m_streaming = nullptr;
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    IgnoringFailures([&] { db.close(); });
}

std::unique_ptr<Recordset> OdbcHisConnection::Execute(const QString& sql) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!db.isOpen())
        throw MwlError(QStringLiteral("The HIS connection is not open (connection string: %1).")
                           .arg(m_connectionString.isEmpty() ? QStringLiteral("none")
                                                             : QStringLiteral("set")));
    if (m_streaming) m_streaming->BufferRemaining();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql)) throw MwlError(query.lastError().text());
    auto recordset = std::make_unique<OdbcRecordset>(this, std::move(query));
    if (!recordset->Eof()) m_streaming = recordset.get();
    return recordset;
}

void OdbcHisConnection::Forget(OdbcRecordset* recordset) {
    if (m_streaming == recordset) m_streaming = nullptr;
}
