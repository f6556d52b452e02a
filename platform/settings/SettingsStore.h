#pragma once

#include <QString>

// Per-user string values addressed by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString Read(const QString& application, const QString& section, const QString& key,
                         const QString& fallback) const = 0;
    virtual void Write(const QString& application, const QString& section, const QString& key,
                       const QString& value) = 0;
};
