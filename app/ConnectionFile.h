#pragma once

#include <QString>
#include <optional>

#include "app/ModeOptions.h"

// ReadINI: the HIS connection string is the first line of the selected mode's
// file in the program's home folder. Returns nothing when the selected mode
// uses no database; throws MwlError with the system's description when the
// file cannot be read.
std::optional<QString> ReadINI(const ModeOptions& options, const QString& homeFolder);
