#include "platform/TextActivityLog.h"

#include <QLocale>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
}

TextActivityLog::TextActivityLog(const Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock) {}

QString TextActivityLog::Stamp(const QDateTime& when) {
    return QLocale::system().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           when.time().toString(QStringLiteral("HH:mm:ss"));
}

void TextActivityLog::Log(const QString& text) {
    const QString piece = kCrLf + Stamp(m_clock.Now()) + QLatin1Char(' ') + text;
    if (m_keepText) m_text += piece;
    emit Written(piece);
}

void TextActivityLog::AppendLog(const QString& text) {
    const QString piece = text + kCrLf;
    if (m_keepText) m_text += piece;
    emit Written(piece);
}

void TextActivityLog::Append(const QString& text) {
    if (m_keepText) m_text += text;
    emit Written(text);
}

void TextActivityLog::Prepend(const QString& line) {
    const QString piece = line + kCrLf;
    if (m_keepText) m_text.prepend(piece);
    emit Prepending();
    emit Written(piece);
}

void TextActivityLog::Replace(const QString& text) {
    emit Replacing();
    if (m_keepText) m_text = text;
    emit Written(text);
}

void TextActivityLog::KeepText(bool keep) {
    m_keepText = keep;
    if (!keep) m_text = QString();
}
