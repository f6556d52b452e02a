#pragma once

#include <QString>
#include <string>

// Text between Qt and the wire: ISO 8859-1 unless the dataset declared UTF-8.
inline QString DecodeDicomText(const char* bytes, size_t length, bool utf8) {
    const auto size = static_cast<qsizetype>(length);
    return utf8 ? QString::fromUtf8(bytes, size) : QString::fromLatin1(bytes, size);
}

// Characters outside ISO 8859-1 become "?".
inline std::string EncodeLatin1(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
