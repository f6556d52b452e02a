#pragma once

#include "worklist/SourceFor.h"

// The base statement of a mode as its own HIS server's dialect writes it.
inline QString BaseSqlFor(ConnectionMode mode) {
    const WorklistSource& source = SourceFor(mode);
    return source.BaseStatement(source.NativeDialect());
}
