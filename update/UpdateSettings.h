#pragma once

#include <QString>

#include "platform/settings/SettingsStore.h"

// Where the program update comes from: application "PACS", section "Update".
struct UpdateSettings {
    // A host name or address, or "https://host" for an update server with TLS.
    QString server;
    QString portText;
    // The file's name in the server's program folder.
    QString remoteFile;
    QString user;
    QString password;

    // programName is the running program's file name: the default remote
    // file, since the server keeps each platform's build under its own name.
    static UpdateSettings Load(const SettingsStore& store, const QString& programName);

    // The port as a number; -1 when the text is not a TCP port.
    int Port() const;
};
