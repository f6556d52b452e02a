#pragma once

#include <QString>

// Renames a file into another folder of the same file system in one step:
// at every moment the file is in one of the two places, whole. An existing
// file of the target name is never replaced. Throws MwlError with the
// system's reason (a target on another file system, an existing target, a
// missing source).
void MoveFileAtomically(const QString& from, const QString& to);
