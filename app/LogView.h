#pragma once

#include <QObject>
#include <QPlainTextEdit>
#include <QString>

#include "platform/TextActivityLog.h"

// Shows the activity log in its text box as the log changes, without ever
// rebuilding the box from the whole log: appended text is added at the end
// (gathered until the event loop next runs, so a query's thousands of lines
// cost one insertion per pass), a prepended line goes in front, and a
// replacement replaces the box's text. The box always shows the newest line.
class LogView : public QObject {
    Q_OBJECT
public:
    LogView(TextActivityLog& log, QPlainTextEdit& box, QObject* parent = nullptr);

    // Puts appended text that is still gathered into the box now.
    void Flush();

private:
    void OnReplacing();
    void OnPrepending();
    void OnWritten(const QString& piece);
    void Insert(const QString& text, bool atStart);
    void ScrollToNewest();

    QPlainTextEdit& m_box;
    QString m_pending;
    bool m_prepending = false;
    bool m_flushQueued = false;
};
