#pragma once

#include "worklist/ConnectionMode.h"
#include "worklist/WorklistSource.h"

// The source of a mode: the one place that decides by the mode. The mode
// None has a source that answers success with no matches and lists nothing.
const WorklistSource& SourceFor(ConnectionMode mode);
