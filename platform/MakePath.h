#pragma once

#include <QString>

// Creates, from the left, every folder named by the part of path before each
// "/" after the first character; the part after the last "/" is taken for a
// file name and never created. A folder that exists or cannot be created is
// passed over silently: the caller finds out when it uses the path.
void MakePath(const QString& path);
