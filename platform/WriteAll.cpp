#include "platform/WriteAll.h"

#include <unistd.h>

#include <cerrno>

bool WriteAll(int descriptor, const QByteArray& bytes, qsizetype* written) {
    qsizetype sent = 0;
    bool whole = true;
    while (sent < bytes.size()) {
        const ssize_t put =
            ::write(descriptor, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent));
        if (put > 0) {
            sent += put;
        } else if (!(put < 0 && errno == EINTR)) {
            whole = false;
            break;
        }
    }
    if (written) *written = sent;
    return whole;
}
