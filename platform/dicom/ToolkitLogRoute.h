#pragma once

#include <memory>

class LogWriter;

// While it exists, the toolkit's own warnings and errors go to the log writer
// as whole lines of their own ("DCMTK warning: ..."), so they reach standard
// output and the log file without ever landing in the middle of one of the
// activity log's lines. Its end gives the toolkit its console back.
class ToolkitLogRoute {
public:
    explicit ToolkitLogRoute(LogWriter& writer);
    ~ToolkitLogRoute();
    ToolkitLogRoute(const ToolkitLogRoute&) = delete;
    ToolkitLogRoute& operator=(const ToolkitLogRoute&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};
