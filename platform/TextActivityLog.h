#pragma once

#include <QObject>

#include "platform/ActivityLog.h"
#include "platform/Clock.h"

class LogWriter;

// Holds the log text and tells observers (the window) about every change.
// It is also the one place where the pieces become whole lines for the log
// writer (standard output, the log file): every call gives complete lines,
// each stamped with the moment it was written. A Log line begins with its
// CR LF and an AppendLog line ends with one, so a Log line is complete at
// once instead of waiting for the next piece; empty lines are left out.
class TextActivityLog : public QObject, public ActivityLog {
    Q_OBJECT
public:
    explicit TextActivityLog(const Clock& clock, QObject* parent = nullptr);

    void Log(const QString& text) override;
    void AppendLog(const QString& text) override;
    void Append(const QString& text) override;
    void Prepend(const QString& line) override;
    void Replace(const QString& text) override;
    QString Text() const override { return m_text; }

    // Without a window nobody reads the text, only the pieces as they are
    // written; not keeping it stops it from growing across queries that
    // never replace it. Text() is then empty.
    void KeepText(bool keep);
    // Every line from now on also goes to the writer (null: to none).
    void SetLineWriter(LogWriter* writer) { m_lines = writer; }

    // The date and time text that starts every Log line.
    static QString Stamp(const QDateTime& when);

signals:
    // The whole text is about to be replaced.
    void Replacing();
    // The next piece written goes in front of the text, not after it.
    void Prepending();
    // The text that was added, prepended or that replaced the log.
    void Written(const QString& piece);

private:
    void ToLines(const QString& text, const QString& stamp, qint64 msecsSinceEpoch);
    void ToLines(const QString& text);

    const Clock& m_clock;
    LogWriter* m_lines = nullptr;
    QString m_text;
    bool m_keepText = true;
};
