#pragma once

#include "app/StartupSettings.h"
#include "platform/settings/SettingsStore.h"
#include "worklist/Switches.h"

// The operator's switches without a window: the Study UID switch and the
// boxes as the load sequence restored them, and the window-only check boxes
// from optional keys of the "PACS" "Headless" section ("1" ticks them).
class StoredSwitches : public Switches {
public:
    StoredSwitches(const SettingsStore& store, const StartupSettings& loaded)
        : m_store(store), m_loaded(loaded) {}

    bool ShowRequests() const override { return Ticked("chkShowRequests"); }
    bool ReplaceEnye() const override { return Ticked("chkReplaceEnye"); }
    bool GenerateStudyUid() const override { return m_loaded.generateStudyUid; }
    bool Trace() const override { return Ticked("chkTrace"); }
    bool ReturnThisQuery() const override { return false; }
    QString SqlBoxText() const override { return QString(); }
    QString InstitutionBoxText() const override { return m_loaded.institutionName; }
    QString Hl7FolderText() const override { return m_loaded.hl7Folder; }

private:
    bool Ticked(const char* key) const {
        return m_store.Read(QStringLiteral("PACS"), QStringLiteral("Headless"),
                            QString::fromLatin1(key), QStringLiteral("0")) == "1";
    }

    const SettingsStore& m_store;
    const StartupSettings& m_loaded;
};
