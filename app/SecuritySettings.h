#pragma once

#include <QString>
#include <QStringList>

#include "platform/dicom/ListenerSecurity.h"
#include "platform/settings/SettingsStore.h"

// The "PACS" "Security" section: TLS, the plain port, who may associate, and
// where the activity log file goes. Every key left empty keeps the server as
// open as it has always been: the plain port alone, anyone let in.
struct SecuritySettings {
    ListenerSecurity listener;
    QString logFolder;     // LogFolder, shown in the window; empty: none
    QStringList problems;  // one line for the activity log per value not used as written

    void Load(const SettingsStore& store);
    // What is in force, for the activity log.
    QString Description() const;

    // What is in force as the window shows it: "off", or the TLS port and
    // whether client certificates are required.
    QString TlsText() const;
    QString PlainPortText() const;  // "open" or "closed"
    // A file or folder setting, "none" when not set.
    static QString PathText(const QString& path);
    // The access rules as the window shows them: "any" when not set.
    QString CallingAeText() const;
    QString NetworksText() const;
    QString CalledAeText() const;
};
