#include "worklist/bramwoods/OrderFile.h"

#include <QDateTime>
#include <QStringDecoder>
#include <algorithm>

#include "platform/FileHead.h"
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

namespace {

[[noreturn]] void CannotRead(const QString& path, const QString& why) {
    throw MwlError(QStringLiteral("Cannot read order file %1: %2").arg(path, why));
}

bool ChangedJustNow(const FileStamp& stamp) {
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1000000;
    return stamp.modifiedNs > nowNs - kSettleMs * 1000000;
}

}  // namespace

OrderLine ReadFirstLine(const QString& path) {
    const FileHead head = ReadFileHead(path, kMaxFirstLineBytes);
    if (head.problem) CannotRead(path, *head.problem);
    if (head.ChangedWhileRead()) CannotRead(path, QStringLiteral("it changed while it was read"));
    if (head.after.size == 0) CannotRead(path, QStringLiteral("it is empty"));
    if (head.line.size() > kMaxFirstLineBytes)
        CannotRead(
            path, QStringLiteral("its first line is longer than %1 bytes").arg(kMaxFirstLineBytes));
    if (!head.lineEnded && ChangedJustNow(head.after))
        CannotRead(path, QStringLiteral("it is still being written (its first line has no line "
                                        "end and it changed less than a second ago)"));
    return {head.line, head.after};
}

QString DecodeOrderLine(const QByteArray& bytes) {
    const bool ascii = std::all_of(bytes.cbegin(), bytes.cend(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}
