#pragma once

#include <QByteArray>

// Writes all the bytes to the open file, going on after interruptions and
// partial writes; false (with errno set) when the file takes no more. The
// bytes that did go out are counted in written, when given.
bool WriteAll(int descriptor, const QByteArray& bytes, qsizetype* written = nullptr);
