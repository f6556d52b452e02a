#pragma once

#include <QObject>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/ActivityLog.h"
#include "platform/Clock.h"

class LogWriter;
class Mailbox;

// Holds the log text and tells observers (the window) about every change.
// It is also the one place where the pieces become whole lines for the log
// writer (standard output, the log file): every call gives complete lines,
// each stamped with the moment it was written. A Log line begins with its
// CR LF and an AppendLog line ends with one, so a Log line is complete at
// once instead of waiting for the next piece; empty lines are left out. The
// text itself never runs two lines together either: an AppendLog that would
// continue a line left open (after "started..." or a Log line) begins on a
// line of its own.
//
// Any thread may write: the query workers, the network threads and the
// window all do. Each call is applied whole, under one lock, so the text,
// the lines and the changes the observers see keep one order. The change
// signals are emitted on the log's own thread (the window's), at once when
// that thread wrote, otherwise as soon as its event loop runs.
class TextActivityLog : public QObject, public ActivityLog {
    Q_OBJECT
public:
    explicit TextActivityLog(const Clock& clock, QObject* parent = nullptr);
    ~TextActivityLog() override;

    void Log(const QString& text) override;
    void AppendLog(const QString& text) override;
    void Append(const QString& text) override;
    void Prepend(const QString& line) override;
    void Replace(const QString& text) override;
    void LogPinned(quint64 key, const QString& text) override;
    void Unpin(quint64 key) override;
    QString Text() const override;

    // Without a window nobody reads the text, only the pieces as they are
    // written; not keeping it stops it from growing across queries that
    // never replace it. Text() is then empty.
    void KeepText(bool keep);
    // Every line from now on also goes to the writer (null: to none).
    void SetLineWriter(LogWriter* writer);
    // The change signals are wanted (a window shows the log); without this
    // none are emitted.
    void WatchChanges();

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
    enum class Change { Append, Prepend, Replace };
    struct Pending {
        Change change;
        QString piece;
    };

    struct Pinned {
        quint64 key;
        QString line;  // as the text shows it, with its CR LF
    };

    // With the lock held: the text, the writer's lines and the observers' change.
    void Apply(Change change, const QString& piece, const QString& lineText,
               const QString& stamp, qint64 msecsSinceEpoch);
    // With the lock held: the line break a piece needs in front so that it
    // does not continue the line left open.
    QString LineStart(const QString& piece) const;
    void LogLocked(const QString& text, std::optional<quint64> pinKey);
    void Notify();
    void Deliver();
    void ToLines(const QString& text, const QString& stamp, qint64 msecsSinceEpoch);

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    LogWriter* m_lines = nullptr;
    QString m_text;
    bool m_lineOpen = false;  // the text ends inside a line
    std::vector<Pinned> m_pinned;
    bool m_keepText = true;
    bool m_watched = false;
    bool m_deliveryPosted = false;  // a delivery is on its way to the log's thread
    std::vector<Pending> m_pending;
    std::unique_ptr<Mailbox> m_mailbox;
};
