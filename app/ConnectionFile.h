#pragma once

#include <QString>
#include <optional>

#include "worklist/ConnectionMode.h"

// ReadINI: the HIS connection string is the first line of the mode's
// connection-string file in the program's home folder. Returns nothing when
// the mode uses no database; throws MwlError with the system's description
// when the file cannot be read.
std::optional<QString> ReadINI(ConnectionMode mode, const QString& homeFolder);
