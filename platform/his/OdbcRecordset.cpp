#include "platform/his/OdbcRecordset.h"

#include <limits>

#include <sql.h>

#include <QSqlResult>

OdbcRecordset::OdbcRecordset(RecordsetHost* host, QSqlQuery query)
    : m_host(host),
      m_query(std::move(query)),
      m_columns(m_query.record()),
      m_rowsAffected(m_query.isSelect() ? -1 : m_query.numRowsAffected()) {
    m_eof = !m_query.isSelect() || !Fetch(m_row);
    if (m_eof) Release();
}

OdbcRecordset::~OdbcRecordset() {
    if (m_host) m_host->Forget(this);
}

bool OdbcRecordset::Fetch(std::vector<QVariant>& row) {
    bool fetched = false;
    StatementWatch::Cancelled cancelled = StatementWatch::Cancelled::No;
    if (m_host && m_host->Cancellable()) {
        StatementWatch::Call call(m_host->Watch(), m_host->Budget());
        const QVariant handle = m_query.result() ? m_query.result()->handle() : QVariant();
        SQLHANDLE statement = handle.metaType() == QMetaType::fromType<SQLHANDLE>()
                                  ? *static_cast<const SQLHANDLE*>(handle.constData())
                                  : nullptr;
        call.Arm(QStringLiteral("the next row"), [statement] {
            if (statement) SQLCancel(statement);
        });
        fetched = m_query.next();
        call.Disarm();
        cancelled = call.CancelledFor();
    } else {
        fetched = m_query.next();
    }
    if (!fetched) {
        // Drivers that stream rows (FreeTDS, MariaDB, SQLite with StepAPI)
        // report an error of a later row here, not when the statement ran.
        const QSqlError error = m_query.lastError();
        if (error.isValid())
            throw m_host ? m_host->Failure(error, cancelled)
                         : MwlError(error.text(), FailureKind::HisQueryFailed);
        return false;
    }
    row.clear();
    row.reserve(m_columns.count());
    for (int i = 0; i < m_columns.count(); ++i) row.push_back(m_query.value(i));
    return true;
}

void OdbcRecordset::MoveNext() {
    if (m_eof) return;
    if (m_buffered) return MoveNextBuffered();
    bool more = false;
    try {
        more = Fetch(m_row);
    } catch (const MwlError&) {
        m_eof = true;
        m_row.clear();
        Release();
        throw;
    }
    if (more) return;
    m_eof = true;
    m_row.clear();
    Release();
}

void OdbcRecordset::MoveNextBuffered() {
    if (!m_rest.empty()) {
        m_row = std::move(m_rest.front());
        m_rest.pop_front();
        return;
    }
    m_eof = true;
    m_row.clear();
    if (!m_restError) return;
    const MwlError error = *m_restError;
    m_restError.reset();
    throw error;
}

QVariant OdbcRecordset::Field(const QString& name) const {
    const int index = m_columns.indexOf(name);
    if (index < 0)
        throw MwlError(
            QStringLiteral("Item cannot be found in the collection: no field '%1'.").arg(name),
            FailureKind::HisQueryFailed);
    if (m_eof)
        throw MwlError(QStringLiteral("No current record (field '%1').").arg(name),
                       FailureKind::HisQueryFailed);
    return m_row[index];
}

void OdbcRecordset::BufferRemaining() {
    if (m_buffered) return;
    m_buffered = true;
    qint64 room = m_wanted < 0 ? std::numeric_limits<qint64>::max() : m_wanted;
    try {
        std::vector<QVariant> row;
        while (room > 0 && !m_eof && Fetch(row)) {
            m_rest.push_back(std::move(row));
            --room;
        }
    } catch (const MwlError& error) {
        m_restError = error;
    }
    Release();
}

// Releasing the statement lets the connection run another one, and close and
// reopen cleanly.
void OdbcRecordset::Release() {
    m_query = QSqlQuery();
    if (m_host) {
        m_host->Forget(this);
        m_host = nullptr;
    }
}
