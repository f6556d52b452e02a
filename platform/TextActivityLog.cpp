#include "platform/TextActivityLog.h"

#include <QLocale>

#include "platform/LogWriter.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}
}  // namespace

TextActivityLog::TextActivityLog(const Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock) {}

QString TextActivityLog::Stamp(const QDateTime& when) {
    return QLocale::system().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           when.time().toString(QStringLiteral("HH:mm:ss"));
}

void TextActivityLog::Log(const QString& text) {
    const QDateTime now = m_clock.Now();
    const QString stamp = Stamp(now);
    const QString piece = kCrLf + stamp + QLatin1Char(' ') + text;
    if (m_keepText) m_text += piece;
    emit Written(piece);
    if (m_lines) ToLines(text, stamp, now.toMSecsSinceEpoch());
}

void TextActivityLog::AppendLog(const QString& text) {
    const QString piece = text + kCrLf;
    if (m_keepText) m_text += piece;
    emit Written(piece);
    if (m_lines) ToLines(text);
}

void TextActivityLog::Append(const QString& text) {
    if (m_keepText) m_text += text;
    emit Written(text);
    if (m_lines) ToLines(text);
}

void TextActivityLog::Prepend(const QString& line) {
    const QString piece = line + kCrLf;
    if (m_keepText) m_text.prepend(piece);
    emit Prepending();
    emit Written(piece);
    if (m_lines) ToLines(line);
}

void TextActivityLog::Replace(const QString& text) {
    emit Replacing();
    if (m_keepText) m_text = text;
    emit Written(text);
    if (m_lines) ToLines(text);
}

void TextActivityLog::KeepText(bool keep) {
    m_keepText = keep;
    if (!keep) m_text = QString();
}

void TextActivityLog::ToLines(const QString& text) {
    ToLines(text, QString(), QDateTime::currentMSecsSinceEpoch());
}

// The stamp goes with the first line of the text; every line keeps the time.
void TextActivityLog::ToLines(const QString& text, const QString& stamp, qint64 msecsSinceEpoch) {
    if (!HasLineBreak(text)) {
        if (!text.isEmpty() || !stamp.isEmpty())
            m_lines->Write(LogLine{msecsSinceEpoch, stamp, text});
        return;
    }
    QString lineStamp = stamp;
    const QStringView all(text);
    qsizetype start = 0;
    while (start <= all.size()) {
        qsizetype end = start;
        while (end < all.size() && all[end] != QLatin1Char('\r') && all[end] != QLatin1Char('\n'))
            ++end;
        if (end > start)
            m_lines->Write(LogLine{msecsSinceEpoch, std::exchange(lineStamp, QString()),
                                   all.mid(start, end - start).toString()});
        start = end + 1;
    }
}
