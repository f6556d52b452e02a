#pragma once

#include "app/MainWindowUi.h"
#include "app/SecuritySettings.h"

// Fills the read-only security boxes of the "&Options" tab with what the
// settings put in force. They change only with the settings file, so they are
// filled once the service has read it.
void ShowSecurity(const MainWindowUi& ui, const SecuritySettings& security);
