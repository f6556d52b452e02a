#pragma once

#include <QStringList>

#include "platform/LogFile.h"
#include "platform/settings/SettingsStore.h"

// Where the activity log is kept as a file: "PACS" "Security" LogFolder (no
// file when empty), LogFileMaxBytes (10 MB) and LogFilesKept (5).
struct LogFileSettings {
    LogFile::Settings file;
    // Values that are not usable numbers, each named with the value used.
    QStringList problems;

    bool Enabled() const { return !file.folder.trimmed().isEmpty(); }
    static LogFileSettings Load(const SettingsStore& store);
};
