#include "worklist/bramwoods/OrderFile.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>

#include "platform/MwlError.h"

QString CutToken(QString& source, const QString& delimiter) {
    const qsizetype at = source.indexOf(delimiter, 0, Qt::CaseSensitive);
    if (at < 0) {
        QString all;
        all.swap(source);
        return all;
    }
    QString token = source.left(at);
    source.remove(0, at + delimiter.size());
    return token;
}

// Fields are cut with CutToken; only their positions in the whole line are
// kept. Fields past the end of a short line are empty.
OrderFields::OrderFields(QString line) : m_line(std::move(line)) {
    const QString bar = QStringLiteral("|");
    QString rest = m_line;
    qsizetype start = 0;
    for (Span& span : m_spans) {
        const qsizetype length = CutToken(rest, bar).size();
        span = {std::min(start, m_line.size()), length};
        start += length + bar.size();
    }
    m_line.squeeze();
}

QByteArray ReadFirstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw MwlError(QStringLiteral("Cannot read order file %1: %2").arg(path, file.errorString()));
    if (file.atEnd())
        throw MwlError(QStringLiteral("Cannot read order file %1: it is empty").arg(path));
    // Never more than the limit and its line end, however long the line.
    QByteArray line = file.readLine(kMaxFirstLineBytes + 2);
    const auto end =
        std::find_if(line.cbegin(), line.cend(), [](char c) { return c == '\r' || c == '\n'; });
    if (end == line.cend() && line.size() > kMaxFirstLineBytes)
        throw MwlError(QStringLiteral("Cannot read order file %1: its first line is longer than "
                                      "%2 bytes")
                           .arg(path)
                           .arg(kMaxFirstLineBytes));
    line.truncate(end - line.cbegin());
    return line;
}

QString DecodeOrderLine(const QByteArray& bytes) {
    const bool ascii = std::all_of(bytes.cbegin(), bytes.cend(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}
