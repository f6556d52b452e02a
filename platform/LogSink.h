#pragma once

#include <vector>

#include "platform/LogLine.h"

// Where the log writer puts the activity log's lines: standard output, the
// log file. Called on the writer's own thread only, with lines in order; it
// may take its time (a slow terminal, a full disk), never the service's.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void Write(const std::vector<LogLine>& lines) = 0;
};
