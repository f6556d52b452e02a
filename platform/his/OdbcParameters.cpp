#include "platform/his/OdbcParameters.h"

#include <sqlext.h>

#include <algorithm>

#include "platform/MwlError.h"

namespace {

bool IsNameStart(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool IsNamePart(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

bool IsCommentAt(const QString& sql, qsizetype at) {
    return sql.mid(at, 2) == QLatin1String("--") || sql.mid(at, 2) == QLatin1String("/*");
}

// Where the quoted text, identifier or comment that starts at `at` ends
// (the index after it); `at` itself when none starts there.
qsizetype SkipLiteral(const QString& sql, qsizetype at) {
    const QChar c = sql[at];
    if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
        qsizetype end = at + 1;
        while (end < sql.size()) {
            if (sql[end] == c) {
                // A doubled quote stays inside the literal.
                if (end + 1 < sql.size() && sql[end + 1] == c) {
                    end += 2;
                    continue;
                }
                return end + 1;
            }
            end += sql[end] == QLatin1Char('\\') ? 2 : 1;
        }
        return sql.size();
    }
    if (sql.mid(at, 2) == QLatin1String("--")) {
        const qsizetype end = sql.indexOf(QLatin1Char('\n'), at);
        return end < 0 ? sql.size() : end;
    }
    if (sql.mid(at, 2) == QLatin1String("/*")) {
        const qsizetype end = sql.indexOf(QLatin1String("*/"), at + 2);
        return end < 0 ? sql.size() : end + 2;
    }
    return at;
}

QString DiagnosticOf(SQLHSTMT statement) {
    SQLCHAR state[6] = {};
    SQLCHAR text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, statement, 1, state, &native, text,
                                     sizeof text, &length)))
        return QStringLiteral("unknown error");
    return QString::fromUtf8(reinterpret_cast<const char*>(text));
}

}  // namespace

OdbcParameters::OdbcParameters(const QString& sql, const SqlParameters& values) {
    m_statement.reserve(sql.size());
    for (qsizetype at = 0; at < sql.size();) {
        if (const qsizetype end = SkipLiteral(sql, at); end != at) {
            // Comments are left out: Qt would take a name in one for a placeholder.
            m_statement += IsCommentAt(sql, at) ? QStringLiteral(" ") : sql.mid(at, end - at);
            at = end;
            continue;
        }
        const bool placeholder = sql[at] == QLatin1Char(':') && at + 1 < sql.size() &&
                                 IsNameStart(sql[at + 1]) &&
                                 (at == 0 || sql[at - 1] != QLatin1Char(':'));
        if (!placeholder) {
            m_statement += sql[at++];
            continue;
        }
        qsizetype end = at + 1;
        while (end < sql.size() && IsNamePart(sql[end])) ++end;
        m_names << sql.mid(at + 1, end - at - 1);
        m_statement += QLatin1Char('?');
        at = end;
    }
    for (const QString& name : m_names) {
        const auto found = std::find_if(values.begin(), values.end(),
                                        [&](const auto& value) { return value.first == name; });
        if (found == values.end())
            throw MwlError(QStringLiteral("The statement names :%1, which has no value.").arg(name),
                           FailureKind::ServerConfiguration);
        Bound bound;
        const QVariant& value = found->second;
        bound.null = value.isNull();
        const int type = value.metaType().id();
        bound.number = type == QMetaType::Int || type == QMetaType::LongLong ||
                       type == QMetaType::UInt || type == QMetaType::ULongLong;
        if (bound.number) bound.integer = value.toLongLong();
        else bound.text = value.toString().toStdU16String();
        bound.length = bound.null     ? SQL_NULL_DATA
                       : bound.number ? 0
                                      : static_cast<SQLLEN>(bound.text.size() * sizeof(char16_t));
        m_bound.push_back(std::move(bound));
    }
}

QString OdbcParameters::BindTo(SQLHSTMT statement) {
    for (size_t i = 0; i < m_bound.size(); ++i) {
        Bound& bound = m_bound[i];
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN result = SQL_SUCCESS;
        if (bound.number) {
            result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_SBIGINT,
                                      SQL_BIGINT, 0, 0, &bound.integer, 0, &bound.length);
        } else {
            const SQLULEN characters = std::max<SQLULEN>(1, bound.text.size());
            result = SQLBindParameter(
                statement, number, SQL_PARAM_INPUT, SQL_C_WCHAR,
                characters > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, characters, 0,
                bound.text.data(), static_cast<SQLLEN>(bound.text.size() * sizeof(char16_t)),
                &bound.length);
        }
        if (!SQL_SUCCEEDED(result))
            return QStringLiteral("Parameter :%1 cannot be bound: %2")
                .arg(m_names.value(static_cast<qsizetype>(i)), DiagnosticOf(statement));
    }
    return QString();
}
