#include "platform/IsoTimeText.h"

#include <cstdio>
#include <cstdlib>

QByteArray IsoTimeText::Of(qint64 msecsSinceEpoch) {
    const qint64 millis = ((msecsSinceEpoch % 1000) + 1000) % 1000;
    const auto second = static_cast<std::time_t>((msecsSinceEpoch - millis) / 1000);
    if (second != m_second) {
        std::tm local{};
        localtime_r(&second, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
        m_prefix = text;
        const long offset = local.tm_gmtoff;
        std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                      std::labs(offset) / 3600, std::labs(offset) % 3600 / 60);
        m_offset = text;
        m_second = second;
    }
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
    return m_prefix + fraction + m_offset;
}
