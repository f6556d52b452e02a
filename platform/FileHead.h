#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "platform/FileStamp.h"

// The start of one file, up to its first line end. What is not a regular
// file is never read (a FIFO without a writer or a device would hold the
// reader or never end), and the file's stamp is taken on the open file
// before and after the read, so a caller can tell a file that was written
// meanwhile.
struct FileHead {
    // Why nothing was read: the system's reason, or what the entry is when
    // it is not a regular file ("it is a directory", ...).
    std::optional<QString> problem;
    QByteArray line;         // the bytes before the first CR or LF, at most the limit + 1
    bool lineEnded = false;  // a CR or LF came within the limit
    FileStamp before;
    FileStamp after;

    bool ChangedWhileRead() const { return before != after; }
};

// Reads up to the first line end, or up to maxLineBytes + 1 bytes without one.
FileHead ReadFileHead(const QString& path, qsizetype maxLineBytes);

// What a file of this st_mode is, when it is not a regular file: "a
// directory", "a FIFO", ...; empty for a regular file.
QString FileKindText(unsigned mode);
