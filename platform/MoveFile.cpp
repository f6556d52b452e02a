#include "platform/MoveFile.h"

#include <fcntl.h>
#include <stdio.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "platform/MwlError.h"

void MoveFileAtomically(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                    RENAME_NOREPLACE) == 0)
        return;
    throw MwlError(QStringLiteral("%1 cannot be moved to %2: %3")
                       .arg(from, to, QString::fromLocal8Bit(std::strerror(errno))));
}
