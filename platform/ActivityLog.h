#pragma once

#include <QString>
#include <QtGlobal>

// The operator's activity log: one text, lines separated by CR LF. An
// AppendLog after a line still open begins a line of its own, so no two
// lines ever run together.
class ActivityLog {
public:
    virtual ~ActivityLog() = default;

    // Adds CR LF, the local date and time, one blank and the text.
    virtual void Log(const QString& text) = 0;
    // Adds the text and CR LF, without a time stamp.
    virtual void AppendLog(const QString& text) = 0;
    // Adds the text as it stands (the request echo brings its own line breaks).
    virtual void Append(const QString& text) = 0;
    // Puts the line and CR LF in front of the whole text.
    virtual void Prepend(const QString& line) = 0;
    // Replaces the whole text; the pinned lines stay in front of it.
    virtual void Replace(const QString& text) = 0;
    // Log, and the line also stays at the head of the text across Replace
    // until Unpin(key): the start of something still going on (an
    // association still open), which a query's fresh log must not lose.
    virtual void LogPinned(quint64 key, const QString& text) = 0;
    virtual void Unpin(quint64 key) = 0;
    virtual QString Text() const = 0;
};
