#include "platform/TextActivityLog.h"

#include <QLocale>
#include <QThread>

#include "platform/LogWriter.h"
#include "platform/Mailbox.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }
}  // namespace

TextActivityLog::TextActivityLog(const Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_mailbox(std::make_unique<Mailbox>(this)) {}

TextActivityLog::~TextActivityLog() = default;

QString TextActivityLog::Stamp(const QDateTime& when) {
    return QLocale::system().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           when.time().toString(QStringLiteral("HH:mm:ss"));
}

void TextActivityLog::Log(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        LogLocked(text, std::nullopt);
    }
    Notify();
}

void TextActivityLog::LogPinned(quint64 key, const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        LogLocked(text, key);
    }
    Notify();
}

void TextActivityLog::LogLocked(const QString& text, std::optional<quint64> pinKey) {
    const QDateTime now = m_clock.Now();
    const QString stamp = Stamp(now);
    const QString line = stamp + QLatin1Char(' ') + text;
    Apply(Change::Append, kCrLf + line, text, stamp, now.toMSecsSinceEpoch());
    if (pinKey) m_pinned.push_back({*pinKey, line + kCrLf});
}

void TextActivityLog::Unpin(quint64 key) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_pinned, [key](const Pinned& pinned) { return pinned.key == key; });
}

void TextActivityLog::AppendLog(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        Apply(Change::Append, LineStart(text) + text + kCrLf, text, QString(), NowMs());
    }
    Notify();
}

void TextActivityLog::Append(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        Apply(Change::Append, text, text, QString(), NowMs());
    }
    Notify();
}

void TextActivityLog::Prepend(const QString& line) {
    {
        std::lock_guard lock(m_mutex);
        Apply(Change::Prepend, line + kCrLf, line, QString(), NowMs());
    }
    Notify();
}

// The lines of what is still going on come first, as they did before.
void TextActivityLog::Replace(const QString& text) {
    {
        std::lock_guard lock(m_mutex);
        QString kept;
        for (const Pinned& pinned : m_pinned) kept += pinned.line;
        m_lineOpen = false;
        Apply(Change::Replace, kept + text, text, QString(), NowMs());
    }
    Notify();
}

// An empty AppendLog only ends the open line, as it always has.
QString TextActivityLog::LineStart(const QString& piece) const {
    const bool startsLine = piece.isEmpty() || piece.startsWith(QLatin1Char('\r')) ||
                            piece.startsWith(QLatin1Char('\n'));
    return m_lineOpen && !startsLine ? kCrLf : QString();
}

// A copy of its own: the text's buffer is never shared with a reader on
// another thread while a writer may grow it.
QString TextActivityLog::Text() const {
    std::lock_guard lock(m_mutex);
    return QString(m_text.constData(), m_text.size());
}

void TextActivityLog::KeepText(bool keep) {
    std::lock_guard lock(m_mutex);
    m_keepText = keep;
    if (!keep) m_text = QString();
}

void TextActivityLog::SetLineWriter(LogWriter* writer) {
    std::lock_guard lock(m_mutex);
    m_lines = writer;
}

void TextActivityLog::WatchChanges() {
    std::lock_guard lock(m_mutex);
    m_watched = true;
}

void TextActivityLog::Apply(Change change, const QString& piece, const QString& lineText,
                            const QString& stamp, qint64 msecsSinceEpoch) {
    if (change != Change::Prepend && !piece.isEmpty())
        m_lineOpen = !piece.endsWith(QLatin1Char('\n')) && !piece.endsWith(QLatin1Char('\r'));
    // The text never shares its buffer with a piece, which the window's
    // thread receives: a writer may then grow it in place at any time.
    if (m_keepText) {
        if (change == Change::Append)
            m_text.append(piece.constData(), piece.size());
        else if (change == Change::Prepend)
            m_text.prepend(piece.constData(), piece.size());
        else
            m_text = QString(piece.constData(), piece.size());
    }
    if (m_watched) m_pending.push_back({change, piece});
    if (m_lines) ToLines(lineText, stamp, msecsSinceEpoch);
}

// The window's own writes reach it at once; the others at its next turn.
void TextActivityLog::Notify() {
    if (QThread::currentThread() == thread()) return Deliver();
    {
        std::lock_guard lock(m_mutex);
        if (m_pending.empty() || m_deliveryPosted) return;
        m_deliveryPosted = true;
    }
    m_mailbox->Post([this] { Deliver(); });
}

void TextActivityLog::Deliver() {
    std::vector<Pending> changes;
    {
        std::lock_guard lock(m_mutex);
        changes.swap(m_pending);
        m_deliveryPosted = false;
    }
    for (const Pending& pending : changes) {
        if (pending.change == Change::Replace) emit Replacing();
        if (pending.change == Change::Prepend) emit Prepending();
        emit Written(pending.piece);
    }
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
