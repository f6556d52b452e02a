#pragma once

#include <QString>

// The operator's activity log: one text, lines separated by CR LF.
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
    // Replaces the whole text.
    virtual void Replace(const QString& text) = 0;
    virtual QString Text() const = 0;
};
