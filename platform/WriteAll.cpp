#include "platform/WriteAll.h"

#include <unistd.h>

#include <cerrno>

bool WriteAll(int descriptor, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t written =
            ::write(descriptor, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent));
        if (written > 0)
            sent += written;
        else if (!(written < 0 && errno == EINTR))
            return false;
    }
    return true;
}
