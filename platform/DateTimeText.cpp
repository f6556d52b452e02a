#include "platform/DateTimeText.h"

#include <QRegularExpression>
#include <array>

namespace {

const QDate kZeroDay(1899, 12, 30);

std::optional<QDateTime> FromFormats(const QString& text) {
    static const std::array<const char*, 14> kFormats = {
        "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm",
        "yyyy-MM-ddTHH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-ddTHH:mm",
        "yyyy-MM-dd",              "yyyyMMddHHmmss",      "yyyyMMdd",
        "yyyy.MM.dd",              "M/d/yyyy H:mm:ss",    "M/d/yyyy h:mm:ss AP",
        "M/d/yyyy H:mm",           "M/d/yyyy"};
    for (const char* format : kFormats) {
        const QDateTime parsed = QDateTime::fromString(text, QString::fromLatin1(format));
        if (parsed.isValid()) return parsed;
    }
    return std::nullopt;
}

std::optional<QTime> TimeFromText(const QString& text) {
    static const std::array<const char*, 6> kFormats = {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm",
                                                        "HHmmss",       "HHmm",     "HH"};
    QString trimmed = text;
    // DICOM TM fractions have up to six digits; milliseconds are enough here.
    static const QRegularExpression kFraction(QStringLiteral("^(\\d{6})\\.(\\d{1,6})$"));
    const auto match = kFraction.match(trimmed);
    if (match.hasMatch()) trimmed = match.captured(1);
    for (const char* format : kFormats) {
        const QTime parsed = QTime::fromString(trimmed, QString::fromLatin1(format));
        if (parsed.isValid()) return parsed;
    }
    return std::nullopt;
}

}  // namespace

bool IsTimeOnlyText(const QString& text) {
    return !FromFormats(text.trimmed()) && TimeFromText(text.trimmed()).has_value();
}

std::optional<QDateTime> ReadDateTime(const QVariant& value) {
    if (value.isNull()) return std::nullopt;
    switch (value.typeId()) {
        case QMetaType::QDateTime:
            return value.toDateTime().isValid() ? std::optional(value.toDateTime()) : std::nullopt;
        case QMetaType::QDate:
            return value.toDate().isValid() ? std::optional(QDateTime(value.toDate(), QTime(0, 0)))
                                            : std::nullopt;
        case QMetaType::QTime:
            return value.toTime().isValid() ? std::optional(QDateTime(kZeroDay, value.toTime()))
                                            : std::nullopt;
        default:
            break;
    }
    const QString text = value.toString().trimmed();
    if (text.isEmpty()) return std::nullopt;
    if (auto parsed = FromFormats(text)) return parsed;
    if (auto time = TimeFromText(text)) return QDateTime(kZeroDay, *time);
    return std::nullopt;
}
