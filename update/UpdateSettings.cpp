#include "update/UpdateSettings.h"

UpdateSettings UpdateSettings::Load(const SettingsStore& store, const QString& programName) {
    const QString pacs = QStringLiteral("PACS");
    const QString update = QStringLiteral("Update");
    UpdateSettings loaded;
    loaded.server = store.Read(pacs, update, QStringLiteral("Server"), QStringLiteral("127.0.0.1"));
    loaded.portText = store.Read(pacs, update, QStringLiteral("Port"), QStringLiteral("88"));
    loaded.remoteFile = store.Read(pacs, update, QStringLiteral("RemoteFile"), programName);
    loaded.user = store.Read(pacs, update, QStringLiteral("User"), QStringLiteral("talvek"));
    loaded.password =
        store.Read(pacs, update, QStringLiteral("Password"), QStringLiteral("quimbo"));
    return loaded;
}

int UpdateSettings::Port() const {
    bool ok = false;
    const int port = portText.trimmed().toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? port : -1;
}
