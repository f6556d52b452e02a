#include "platform/his/OdbcRecordset.h"

#include <QSqlError>

#include "platform/MwlError.h"
#include "platform/his/OdbcHisConnection.h"

OdbcRecordset::OdbcRecordset(OdbcHisConnection* owner, QSqlQuery query)
    : m_owner(owner), m_query(std::move(query)), m_columns(m_query.record()) {
    m_eof = !m_query.isSelect() || !m_query.next();
    if (!m_eof) m_row = ReadRow();
    if (m_eof && m_owner) {
        m_owner->Forget(this);
        m_owner = nullptr;
    }
}

OdbcRecordset::~OdbcRecordset() {
    if (m_owner) m_owner->Forget(this);
}

std::vector<QVariant> OdbcRecordset::ReadRow() const {
    std::vector<QVariant> row;
    row.reserve(m_columns.count());
    for (int i = 0; i < m_columns.count(); ++i) row.push_back(m_query.value(i));
    return row;
}

void OdbcRecordset::MoveNext() {
    if (m_eof) return;
    if (m_buffered) {
        m_eof = m_rest.empty();
        m_row.clear();
        if (!m_eof) {
            m_row = std::move(m_rest.front());
            m_rest.pop_front();
        }
        return;
    }
    if (m_query.next()) {
        m_row = ReadRow();
        return;
    }
    const QSqlError error = m_query.lastError();
    m_query = QSqlQuery();
    m_eof = true;
    m_row.clear();
    if (m_owner) {
        m_owner->Forget(this);
        m_owner = nullptr;
    }
    if (error.isValid()) throw MwlError(error.text());
}

QVariant OdbcRecordset::Field(const QString& name) const {
    const int index = m_columns.indexOf(name);
    if (index < 0)
        throw MwlError(QStringLiteral("Item cannot be found in the collection: no field '%1'.")
                           .arg(name));
    if (m_eof) throw MwlError(QStringLiteral("No current record (field '%1').").arg(name));
    return m_row[index];
}

void OdbcRecordset::BufferRemaining() {
    if (m_buffered) return;
    m_buffered = true;
    while (m_query.next()) m_rest.push_back(ReadRow());
    // Releasing the statement lets the connection close and reopen cleanly.
    m_query = QSqlQuery();
    if (m_owner) {
        m_owner->Forget(this);
        m_owner = nullptr;
    }
}
