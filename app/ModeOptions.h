#pragma once

#include <QString>
#include <array>

#include "platform/settings/SettingsStore.h"
#include "worklist/ConnectionMode.h"

// The five exclusive connection-mode options and their stored flags. The
// window binds its option buttons to this; headless mode uses it alone.
class ModeOptions {
public:
    enum Option { Talvek, Pelta, Corvante, Bramwoods, Orvelline, Count };

    explicit ModeOptions(SettingsStore& store) : m_store(store) {}

    // Restores the options in their fixed order. A stored "True" selects its
    // option as a click would, saving all five flags at once, so when several
    // flags are "True" the first one wins.
    void Load();
    // What a click on an option does: select it, save the flags, set the mode.
    void Click(Option option);
    void SaveModeOptions();
    // The mode of the first selected option; unchanged when none is.
    void SetConnectionMode();

    bool Selected(Option option) const { return m_selected[option]; }
    ::ConnectionMode ConnectionMode() const { return m_mode; }

    static QString Key(Option option);
    static ::ConnectionMode Mode(Option option);

private:
    SettingsStore& m_store;
    std::array<bool, Count> m_selected{};
    ::ConnectionMode m_mode = ::ConnectionMode::None;
};
