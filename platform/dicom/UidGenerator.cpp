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
}  // namespace

QString UuidUidGenerator::NewUid() {
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    unsigned __int128 value = 0;
    for (const char byte : bytes) value = (value << 8) | static_cast<unsigned char>(byte);
    return QStringLiteral("2.25.") + QString::fromStdString(Decimal(value));
}
