#pragma once

#include "platform/LogSink.h"

// The activity log on standard output, each line as the window shows it,
// in UTF-8 with LF line ends. When the output is gone (a closed pipe) it
// stops writing rather than fail every batch again.
class StandardOutputSink : public LogSink {
public:
    explicit StandardOutputSink(int descriptor = 1) : m_descriptor(descriptor) {}
    void Write(const std::vector<LogLine>& lines) override;

private:
    int m_descriptor;
    bool m_gone = false;
};
