#pragma once

#include <QByteArray>
#include <QString>

// Writes an order file as a HIS that finished it a while ago would have: its
// modification time is set back, so a first line without a line end is read
// at once instead of being taken for one still being written.
bool WriteFinishedOrderFile(const QString& path, const QByteArray& bytes);
