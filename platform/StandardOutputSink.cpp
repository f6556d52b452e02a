#include "platform/StandardOutputSink.h"

#include "platform/WriteAll.h"

void StandardOutputSink::Write(const std::vector<LogLine>& lines) {
    if (m_gone) return;
    QByteArray bytes;
    for (const LogLine& line : lines) {
        bytes += line.Shown().toUtf8();
        bytes += '\n';
    }
    if (!WriteAll(m_descriptor, bytes)) m_gone = true;
}
