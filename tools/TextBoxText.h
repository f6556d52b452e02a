#pragma once

#include <QPlainTextEdit>
#include <QString>

// Appends text whose lines end in CR LF to a text box. The box starts a new
// paragraph at CR and again at LF, so the pair becomes one break there. The
// box then shows its newest line.
inline void AppendToBox(QPlainTextEdit& box, QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor(box.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    box.moveCursor(QTextCursor::End);
    box.ensureCursorVisible();
}
