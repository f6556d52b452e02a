#include "app/LogView.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

namespace {

// A text box starts a new paragraph at CR and again at LF; the log's line
// break is the pair.
QString ForBox(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

}  // namespace

LogView::LogView(TextActivityLog& log, QPlainTextEdit& box, QObject* parent)
    : QObject(parent), m_box(box) {
    log.WatchChanges();
    m_box.setPlainText(ForBox(log.Text()));
    connect(&log, &TextActivityLog::Replacing, this, &LogView::OnReplacing);
    connect(&log, &TextActivityLog::Prepending, this, &LogView::OnPrepending);
    connect(&log, &TextActivityLog::Written, this, &LogView::OnWritten);
}

void LogView::OnReplacing() {
    m_pending.clear();
    m_box.clear();
}

void LogView::OnPrepending() {
    Flush();
    m_prepending = true;
}

void LogView::OnWritten(const QString& piece) {
    if (m_prepending) {
        m_prepending = false;
        Insert(piece, true);
        return;
    }
    m_pending += piece;
    if (m_flushQueued) return;
    m_flushQueued = true;
    QTimer::singleShot(0, this, &LogView::Flush);
}

void LogView::Flush() {
    m_flushQueued = false;
    if (m_pending.isEmpty()) return;
    Insert(m_pending, false);
    m_pending.clear();
}

void LogView::Insert(const QString& text, bool atStart) {
    QTextCursor cursor(m_box.document());
    cursor.movePosition(atStart ? QTextCursor::Start : QTextCursor::End);
    cursor.insertText(ForBox(text));
    ScrollToNewest();
}

void LogView::ScrollToNewest() {
    QScrollBar* bar = m_box.verticalScrollBar();
    bar->setValue(bar->maximum());
}
