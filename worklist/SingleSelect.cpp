#include "worklist/SingleSelect.h"

#include <QSet>
#include <QStringList>
#include <optional>

namespace {

enum class Reading { SqlServer, MySql };

// Where a quoted string or name that opens with `open` ends.
struct Quote {
    QChar open;
    QChar close;
    bool backslashEscapes;
};

std::optional<Quote> QuoteAt(QChar c, Reading reading) {
    const bool mysql = reading == Reading::MySql;
    if (c == '\'') return Quote{c, c, mysql};
    if (c == '"') return Quote{c, c, mysql};
    if (c == '`') return Quote{c, c, false};
    if (c == '[' && !mysql) return Quote{c, QLatin1Char(']'), false};
    return std::nullopt;
}

// The index after the closing quote; -1 when the quote never closes. A
// doubled closing character stands for itself.
qsizetype SkipQuoted(const QString& sql, qsizetype i, const Quote& quote) {
    for (++i; i < sql.size(); ++i) {
        if (quote.backslashEscapes && sql[i] == '\\') {
            ++i;
        } else if (sql[i] == quote.close) {
            if (i + 1 < sql.size() && sql[i + 1] == quote.close)
                ++i;
            else
                return i + 1;
        }
    }
    return -1;
}

// MySQL starts a "--" comment only when a blank or control character follows.
bool LineCommentAt(const QString& sql, qsizetype i, Reading reading) {
    if (reading == Reading::MySql && sql[i] == '#') return true;
    if (sql.mid(i, 2) != QLatin1String("--")) return false;
    if (reading == Reading::SqlServer) return true;
    return i + 2 >= sql.size() || sql[i + 2].isSpace() || sql[i + 2].unicode() < 0x20;
}

// MySQL runs the text of a "/*!" comment as code.
bool BlockCommentAt(const QString& sql, qsizetype i, Reading reading) {
    if (sql.mid(i, 2) != QLatin1String("/*")) return false;
    return reading == Reading::SqlServer || sql.mid(i, 3) != QLatin1String("/*!");
}

// "#" starts a comment in MySQL and is part of a name (#temp) in SQL Server.
bool IsWordChar(QChar c, Reading reading) {
    if (c == '#') return reading == Reading::SqlServer;
    return c.isLetterOrNumber() || c == '_' || c == '@' || c == '$';
}

// The words and semicolons outside strings, quoted names and comments, words
// upper-cased; nothing when a string or comment never ends.
std::optional<QStringList> Tokens(const QString& sql, Reading reading) {
    QStringList tokens;
    qsizetype i = 0;
    while (i < sql.size()) {
        const QChar c = sql[i];
        if (LineCommentAt(sql, i, reading)) {
            const qsizetype end = sql.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? sql.size() : end + 1;
        } else if (BlockCommentAt(sql, i, reading)) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            if (end < 0) return std::nullopt;
            i = end + 2;
        } else if (const auto quote = QuoteAt(c, reading)) {
            i = SkipQuoted(sql, i, *quote);
            if (i < 0) return std::nullopt;
        } else if (IsWordChar(c, reading)) {
            const qsizetype start = i;
            while (i < sql.size() && IsWordChar(sql[i], reading)) ++i;
            tokens << sql.mid(start, i - start).toUpper();
        } else {
            if (c == ';') tokens << QStringLiteral(";");
            ++i;
        }
    }
    return tokens;
}

bool ReadsOnly(const QString& sql, Reading reading) {
    // Statement words of SQL Server, which needs no ";" between statements,
    // and the INTO of SELECT ... INTO. MySQL always needs the ";".
    static const QSet<QString> kWriting = {
        "INSERT", "UPDATE",      "DELETE",    "MERGE",     "INTO", "DROP",  "ALTER",
        "CREATE", "TRUNCATE",    "EXEC",      "EXECUTE",   "CALL", "GRANT", "REVOKE",
        "DENY",   "BACKUP",      "RESTORE",   "SHUTDOWN",  "KILL", "DBCC",  "BULK",
        "USE",    "RECONFIGURE", "WRITETEXT", "UPDATETEXT"};
    const auto tokens = Tokens(sql, reading);
    if (!tokens || tokens->isEmpty() || tokens->first() != QLatin1String("SELECT")) return false;
    for (qsizetype i = 0; i < tokens->size(); ++i) {
        const QString& token = tokens->at(i);
        if (token == QLatin1String(";") && i + 1 < tokens->size() &&
            tokens->at(i + 1) != QLatin1String(";"))
            return false;
        if (kWriting.contains(token)) return false;
    }
    return true;
}

}  // namespace

bool IsSingleSelect(const QString& sql) {
    return ReadsOnly(sql, Reading::SqlServer) && ReadsOnly(sql, Reading::MySql);
}
