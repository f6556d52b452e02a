#pragma once

#include <QSettings>
#include <map>
#include <memory>

#include "platform/settings/SettingsStore.h"

// QSettings in the native per-user format under the organisation "TALVEK":
// $XDG_CONFIG_HOME/TALVEK/<application>.conf on Linux, the registry on Windows.
class QtSettingsStore : public SettingsStore {
public:
    QString Read(const QString& application, const QString& section, const QString& key,
                 const QString& fallback) const override;
    void Write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;

private:
    QSettings& For(const QString& application) const;

    mutable std::map<QString, std::unique_ptr<QSettings>> m_stores;
};
