#pragma once

#include <QString>
#include <QStringList>

#include "mpps/StepSettings.h"
#include "platform/settings/SettingsStore.h"

// The "PACS" "MPPS" section. Without a Journal the journal is the SQLite
// file mpps-journal.db in the home folder; a statement key that is absent
// leaves the mode's default, one that is set (even empty) replaces it.
struct MppsSettings {
    StepSettings steps;
    QStringList problems;  // one line for the activity log per value not used

    static constexpr int kDefaultRetrySeconds = 60;

    void Load(const SettingsStore& store, const QString& homeFolder);
    // What is in force, for the activity log; the journal's connection
    // string is not shown, as it may hold a password.
    QString Description() const;
    static QString DefaultJournal(const QString& homeFolder);
};
