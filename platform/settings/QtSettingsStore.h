#pragma once

#include <QSettings>
#include <map>
#include <memory>

#include "platform/settings/SettingsStore.h"

// QSettings in the native per-user format under the organisation "TALVEK":
// $XDG_CONFIG_HOME/TALVEK/<application>.conf on Linux, the registry on Windows.
//
// A file that cannot be read in full (not readable, not in the settings
// format) is never written: QSettings would replace it with the few values
// written, and every setting the operator wrote there would be lost. Its
// values are then the defaults and those that could be read; what is
// written is kept for this run only.
class QtSettingsStore : public SettingsStore {
public:
    QString Read(const QString& application, const QString& section, const QString& key,
                 const QString& fallback) const override;
    void Write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;
    QString Location(const QString& application) const override;
    std::optional<QString> Problem(const QString& application) const override;

private:
    struct Store {
        std::unique_ptr<QSettings> settings;
        std::optional<QString> problem;
        std::map<QString, QString> unsaved;  // written while the file cannot be read
    };
    Store& For(const QString& application) const;

    mutable std::map<QString, Store> m_stores;
};
