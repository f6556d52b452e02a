#include "platform/his/OdbcConnectionString.h"

#include <odbcinst.h>

#include <QStringList>

OdbcConnectionString::OdbcConnectionString(QString text) : m_text(std::move(text)) {
    const qsizetype size = m_text.size();
    qsizetype at = 0;
    while (at < size) {
        const qsizetype start = at;
        const qsizetype equals = m_text.indexOf(QLatin1Char('='), at);
        if (equals < 0) break;
        Attribute attribute;
        attribute.keyword = m_text.mid(start, equals - start).trimmed();
        at = equals + 1;
        if (at < size && m_text[at] == QLatin1Char('{')) {
            const qsizetype close = m_text.indexOf(QLatin1Char('}'), at + 1);
            const qsizetype stop = close < 0 ? size : close;
            attribute.value = m_text.mid(at + 1, stop - at - 1);
            at = close < 0 ? size : close + 1;
        }
        const qsizetype semicolon = m_text.indexOf(QLatin1Char(';'), at);
        const qsizetype stop = semicolon < 0 ? size : semicolon;
        if (attribute.value.isNull()) attribute.value = m_text.mid(at, stop - at);
        attribute.start = start;
        attribute.end = stop;
        m_attributes.push_back(std::move(attribute));
        at = stop + 1;
    }
}

const OdbcConnectionString::Attribute* OdbcConnectionString::Find(const QString& keyword) const {
    for (const Attribute& attribute : m_attributes)
        if (attribute.keyword.compare(keyword, Qt::CaseInsensitive) == 0) return &attribute;
    return nullptr;
}

std::optional<QString> OdbcConnectionString::Value(const QString& keyword) const {
    const Attribute* attribute = Find(keyword);
    if (!attribute) return std::nullopt;
    return attribute->value;
}

QString OdbcConnectionString::DriverName() const {
    if (const auto driver = Value(QStringLiteral("Driver"))) return driver->trimmed();
    const auto dsn = Value(QStringLiteral("DSN"));
    if (!dsn || dsn->trimmed().isEmpty()) return QString();
    char driver[512] = {};
    SQLGetPrivateProfileString(dsn->trimmed().toUtf8().constData(), "Driver", "", driver,
                               sizeof driver, "odbc.ini");
    return QString::fromUtf8(driver);
}

std::optional<SqlDialect> OdbcConnectionString::Dialect() const {
    const QString driver = DriverName();
    if (driver.contains(QLatin1String("sqlite"), Qt::CaseInsensitive)) return SqlDialect::Sqlite;
    // By registered name ("MariaDB Unicode") or by library ("libmaodbc.so").
    for (const char* mysql : {"maria", "mysql", "maodbc", "myodbc"})
        if (driver.contains(QLatin1String(mysql), Qt::CaseInsensitive)) return SqlDialect::MySql;
    for (const char* sqlServer : {"freetds", "tdsodbc", "sql server"})
        if (driver.contains(QLatin1String(sqlServer), Qt::CaseInsensitive))
            return SqlDialect::SqlServer;
    return std::nullopt;
}

QString OdbcConnectionString::SqliteFile() const {
    if (!IsSqlite()) return QString();
    const QString file = Value(QStringLiteral("Database")).value_or(QString()).trimmed();
    if (file == QLatin1String(":memory:") || file.startsWith(QLatin1String("file:")))
        return QString();
    return file;
}

QString OdbcConnectionString::WithLockWait(qint64 milliseconds) const {
    if (!IsSqlite()) return m_text;
    const QString wait = QStringLiteral("Timeout=%1").arg(milliseconds);
    const Attribute* timeout = Find(QStringLiteral("Timeout"));
    if (!timeout) {
        const bool needsSeparator = !m_text.isEmpty() && !m_text.endsWith(QLatin1Char(';'));
        return m_text + (needsSeparator ? QStringLiteral(";") : QString()) + wait;
    }
    bool ok = false;
    const qint64 given = timeout->value.trimmed().toLongLong(&ok);
    if (ok && given >= 0 && given <= milliseconds) return m_text;
    QString text = m_text;
    return text.replace(timeout->start, timeout->end - timeout->start, wait);
}

QString OdbcConnectionString::Where() const {
    const auto named = [this](std::initializer_list<const char*> keywords) {
        for (const char* keyword : keywords)
            if (const auto value = Value(QLatin1String(keyword)); value && !value->trimmed().isEmpty())
                return value->trimmed();
        return QString();
    };
    if (IsSqlite()) {
        const QString file = named({"Database"});
        return file.isEmpty() ? QString() : QStringLiteral("database file ") + file;
    }
    QStringList parts;
    if (const QString server = named({"Server", "Servername", "Host"}); !server.isEmpty()) {
        const QString port = named({"Port"});
        parts << QStringLiteral("server ") + server +
                     (port.isEmpty() ? QString() : QStringLiteral(" port ") + port);
    } else if (const QString socket = named({"Socket"}); !socket.isEmpty()) {
        parts << QStringLiteral("socket ") + socket;
    } else if (const QString dsn = named({"DSN"}); !dsn.isEmpty()) {
        parts << QStringLiteral("data source ") + dsn;
    }
    if (const QString database = named({"Database"}); !database.isEmpty())
        parts << QStringLiteral("database ") + database;
    return parts.join(QStringLiteral(", "));
}
