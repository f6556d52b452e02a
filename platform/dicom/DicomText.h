#pragma once

#include <QByteArray>
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

// The character set a match's text goes out in: ISO 8859-1, unless the query
// declared UTF-8.
enum class TextEncoding { Latin1, Utf8 };

// Characters outside ISO 8859-1 become "?" there; UTF-8 holds every one.
inline QByteArray EncodeText(const QString& text, TextEncoding encoding) {
    return encoding == TextEncoding::Utf8 ? text.toUtf8() : text.toLatin1();
}

// The Specific Character Set (0008,0005) that declares the encoding.
inline QByteArray CharacterSetTerm(TextEncoding encoding) {
    return encoding == TextEncoding::Utf8 ? QByteArrayLiteral("ISO_IR 192")
                                          : QByteArrayLiteral("ISO_IR 100");
}
