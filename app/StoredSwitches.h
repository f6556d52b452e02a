#pragma once

#include "app/StartupSettings.h"
#include "platform/settings/SettingsStore.h"
#include "worklist/Switches.h"

// The operator's switches without a window: the Study UID switch and the
// boxes as the load sequence restored them, and the window-only check boxes
// from optional keys of the "PACS" "Headless" section ("1" ticks them).
inline Switches StoredSwitches(const SettingsStore& store, const StartupSettings& loaded) {
    const auto ticked = [&](const char* key) {
        return store.Read(QStringLiteral("PACS"), QStringLiteral("Headless"),
                          QString::fromLatin1(key), QStringLiteral("0")) == QLatin1String("1");
    };
    Switches switches;
    switches.showRequests = ticked("chkShowRequests");
    switches.replaceEnye = ticked("chkReplaceEnye");
    switches.generateStudyUid = loaded.generateStudyUid;
    switches.trace = ticked("chkTrace");
    switches.institutionBoxText = loaded.institutionName;
    switches.hl7FolderText = loaded.hl7Folder;
    return switches;
}
