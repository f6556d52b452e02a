#pragma once

#include <QByteArray>
#include <QString>
#include <array>

#include "platform/FileStamp.h"

// Returns the text before the first delimiter and leaves the text after it in
// source; without a delimiter returns the whole source and empties it.
QString CutToken(QString& source, const QString& delimiter);

// The first line of one order file cut at "|" into fields 1 to 29; fields
// missing at the end of a short line are empty, fields after 29 are dropped.
// The line is kept whole with the position of each field, which keeps a
// cache of thousands of orders small.
class OrderFields {
public:
    static constexpr int kCount = 29;

    explicit OrderFields(QString line);
    // n counts from 1.
    QStringView FieldView(int n) const {
        const Span& span = m_spans[static_cast<size_t>(n - 1)];
        return QStringView(m_line).mid(span.start, span.length);
    }
    QString Field(int n) const { return FieldView(n).toString(); }
    QStringView Line() const { return m_line; }

private:
    struct Span {
        qsizetype start = 0;
        qsizetype length = 0;
    };
    QString m_line;
    std::array<Span, kCount> m_spans{};
};

// An order is one short line; anything longer is not an order file, and
// reading it whole would cost every query its time and memory.
inline constexpr qsizetype kMaxFirstLineBytes = 64 * 1024;

// A HIS may be writing an order file while it is read. A first line without
// a line end that changed this recently may be cut short and is not read yet.
inline constexpr qint64 kSettleMs = 1000;

// The first line of one version of an order file, and that version's stamp.
struct OrderLine {
    QByteArray bytes;
    FileStamp stamp;
};

// The first line of an order file (up to CR or LF). Throws MwlError naming
// the file when it cannot be read or is no regular file, holds no line at
// all, its first line is longer than kMaxFirstLineBytes, or it may be torn:
// it changed while it was read, or its first line has no line end and it
// changed less than kSettleMs ago. Such a file is read again next time.
OrderLine ReadFirstLine(const QString& path);

// Order files are single-byte text (ISO 8859-1). A line that is valid UTF-8
// and holds a multi-byte sequence was written as UTF-8 and is read as such:
// no name in ISO 8859-1 forms a valid multi-byte UTF-8 sequence in practice
// (it would need a capital accented letter followed by one or more symbols
// from 0x80-0xBF).
QString DecodeOrderLine(const QByteArray& bytes);
