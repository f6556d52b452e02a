#include "platform/dicom/UidGenerator.h"

#include <QUuid>
#include <algorithm>
#include <string>

namespace {
std::string Decimal(unsigned __int128 value) {
    if (value == 0) return "0";
    std::string digits;
    while (value > 0) {
        digits.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

QString UidOf(const QUuid& uuid) {
    const QByteArray bytes = uuid.toRfc4122();
    unsigned __int128 value = 0;
    for (const char byte : bytes) value = (value << 8) | static_cast<unsigned char>(byte);
    return QStringLiteral("2.25.") + QString::fromStdString(Decimal(value));
}

// The name space of this program's name-based UIDs: fixed, so that a name
// keeps its UID across versions.
const QUuid kNameSpace(QStringLiteral("{03079261-c712-40da-a0be-424d3f8d6f12}"));

}  // namespace

QString UuidUidGenerator::NewUid() { return UidOf(QUuid::createUuid()); }

QString UidFromName(const QString& name) { return UidOf(QUuid::createUuidV5(kNameSpace, name)); }
