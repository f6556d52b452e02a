#pragma once

#include <QByteArray>

// How this program names itself in every association it answers: its own
// implementation class UID (under "2.25.", fixed for every version) and a
// version name of at most 16 characters, "TALVEK_MWL_" and the version.
namespace Implementation {
inline constexpr char kClassUid[] = "2.25.32154720204955441354119380069820668221";

inline QByteArray VersionName() {
    return (QByteArrayLiteral("TALVEK_MWL_") + QByteArray::number(MWL_VERSION_MAJOR) + '.' +
            QByteArray::number(MWL_VERSION_MINOR) + '.' + QByteArray::number(MWL_VERSION_PATCH))
        .left(16);
}
}  // namespace Implementation
