#include "platform/his/OdbcRecordset.h"

#include <limits>

#include <sql.h>
#include <sqlext.h>

#include <QSqlField>
#include <QSqlResult>

namespace {

// Whole numbers of every width and DECIMAL/NUMERIC. Qt's driver reads a
// column the ODBC driver calls INTEGER through 32 bits (SQLite keeps 64-bit
// order numbers in such columns) and a DECIMAL through a double; both change
// the number.
bool IsExactNumber(const QSqlField& field) {
    switch (field.typeID()) {
        case SQL_BIT:
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT:
        case SQL_DECIMAL:
        case SQL_NUMERIC:
            return true;
        default:
            return false;
    }
}

// The column's value as the driver writes it as text (digits, sign and
// point): exactly the number the database holds. Null for SQL NULL.
QVariant ExactNumberText(SQLHANDLE statement, int column) {
    char text[128] = {};
    SQLLEN length = 0;
    const SQLRETURN read = SQLGetData(statement, static_cast<SQLUSMALLINT>(column + 1), SQL_C_CHAR,
                                      text, sizeof text, &length);
    if (!SQL_SUCCEEDED(read) || length == SQL_NULL_DATA) return QVariant();
    return QString::fromLatin1(text);
}

}  // namespace

OdbcRecordset::OdbcRecordset(RecordsetHost* host, QSqlQuery query)
    : m_host(host), m_query(std::move(query)), m_columns(m_query.record()) {
    if (!m_query.isSelect()) m_rowsChanged = m_query.numRowsAffected();
    for (int i = 0; i < m_columns.count(); ++i)
        m_exactNumbers.push_back(IsExactNumber(m_columns.field(i)));
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
        SQLHANDLE statement = StatementHandle();
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
    ReadRow(row);
    return true;
}

// Columns are read in order, as some drivers require. Qt's driver, asked for
// a later column, reads the skipped exact-number columns once more: a second
// read of a column gets no data (the ODBC rule), which it drops.
void OdbcRecordset::ReadRow(std::vector<QVariant>& row) {
    row.clear();
    row.reserve(m_columns.count());
    SQLHANDLE statement = nullptr;
    for (int i = 0; i < m_columns.count(); ++i) {
        if (m_exactNumbers[i] && (statement || (statement = StatementHandle())))
            row.push_back(ExactNumberText(statement, i));
        else
            row.push_back(m_query.value(i));
    }
}

void* OdbcRecordset::StatementHandle() const {
    const QVariant handle = m_query.result() ? m_query.result()->handle() : QVariant();
    return handle.metaType() == QMetaType::fromType<SQLHANDLE>()
               ? *static_cast<const SQLHANDLE*>(handle.constData())
               : nullptr;
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
