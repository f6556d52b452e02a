#pragma once

#include <QString>
#include <optional>

// Per-user string values addressed by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString Read(const QString& application, const QString& section, const QString& key,
                         const QString& fallback) const = 0;
    virtual void Write(const QString& application, const QString& section, const QString& key,
                       const QString& value) = 0;
    // Where the application's settings are kept (a file), for the log; empty
    // when the store is no file.
    virtual QString Location(const QString&) const { return QString(); }
    // Why the application's settings could not be read in full; nothing when
    // they could (also when there are none yet).
    virtual std::optional<QString> Problem(const QString&) const { return std::nullopt; }
};
