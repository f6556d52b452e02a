#pragma once

#include <QObject>

#include "platform/ActivityLog.h"
#include "platform/Clock.h"

// Holds the log text and tells observers (the window, headless standard output)
// about every change.
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
    const Clock& m_clock;
    QString m_text;
    bool m_keepText = true;
};
