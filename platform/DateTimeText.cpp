#include "platform/DateTimeText.h"

#include <QDateTime>
#include <QRegularExpression>
#include <array>

namespace {

const QDate kZeroDay(1899, 12, 30);

std::optional<QDateTime> FromFormats(const QString& text) {
    static const std::array<const char*, 14> kFormats = {"yyyy-MM-dd HH:mm:ss.zzz",
                                                         "yyyy-MM-dd HH:mm:ss",
                                                         "yyyy-MM-dd HH:mm",
                                                         "yyyy-MM-ddTHH:mm:ss.zzz",
                                                         "yyyy-MM-ddTHH:mm:ss",
                                                         "yyyy-MM-ddTHH:mm",
                                                         "yyyy-MM-dd",
                                                         "yyyyMMddHHmmss",
                                                         "yyyyMMdd",
                                                         "yyyy.MM.dd",
                                                         "M/d/yyyy H:mm:ss",
                                                         "M/d/yyyy h:mm:ss AP",
                                                         "M/d/yyyy H:mm",
                                                         "M/d/yyyy"};
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

int Digits(QStringView text, qsizetype at, qsizetype count) {
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The forms databases deliver nearly always, read without the general
// parser: YYYY-MM-DD, optionally followed by blank or "T" and HH:MM,
// HH:MM:SS or HH:MM:SS.zzz; YYYYMMDD and YYYYMMDDHHMMSS. Anything else,
// and any value that is not a valid date or time, is left to the parser.
std::optional<DateAndTime> CommonForm(QStringView text) {
    int year = -1, month = -1, day = -1, hour = 0, minute = 0, second = 0, millis = 0;
    qsizetype timeAt = -1;
    if (text.size() >= 10 && text[4] == u'-' && text[7] == u'-') {
        year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
        if (text.size() > 10) {
            if ((text[10] != u' ' && text[10] != u'T') || text.size() < 16 || text[13] != u':')
                return std::nullopt;
            timeAt = 11;
        }
    } else if (text.size() == 8 || text.size() == 14) {
        year = Digits(text, 0, 4), month = Digits(text, 4, 2), day = Digits(text, 6, 2);
        if (text.size() == 14) {
            hour = Digits(text, 8, 2), minute = Digits(text, 10, 2), second = Digits(text, 12, 2);
            if (hour < 0 || minute < 0 || second < 0) return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    if (timeAt > 0) {
        const qsizetype size = text.size();
        hour = Digits(text, timeAt, 2), minute = Digits(text, timeAt + 3, 2);
        if (size == 19 || size == 23) {
            if (text[16] != u':') return std::nullopt;
            second = Digits(text, 17, 2);
        } else if (size != 16) {
            return std::nullopt;
        }
        if (size == 23) {
            if (text[19] != u'.') return std::nullopt;
            millis = Digits(text, 20, 3);
        }
        if (hour < 0 || minute < 0 || second < 0 || millis < 0) return std::nullopt;
    }
    if (year < 0 || month < 0 || day < 0) return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, millis);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return DateAndTime{date, time};
}

QString Padded(int value, int width) {
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

}  // namespace

bool IsTimeOnlyText(const QString& text) {
    return !FromFormats(text.trimmed()) && TimeFromText(text.trimmed()).has_value();
}

std::optional<DateAndTime> ReadDateAndTime(const QVariant& value) {
    if (value.isNull()) return std::nullopt;
    switch (value.typeId()) {
        case QMetaType::QDateTime: {
            const QDateTime when = value.toDateTime();
            if (!when.isValid()) return std::nullopt;
            return DateAndTime{when.date(), when.time()};
        }
        case QMetaType::QDate:
            if (!value.toDate().isValid()) return std::nullopt;
            return DateAndTime{value.toDate(), QTime(0, 0)};
        case QMetaType::QTime:
            if (!value.toTime().isValid()) return std::nullopt;
            return DateAndTime{kZeroDay, value.toTime()};
        default:
            break;
    }
    const QString text = value.toString().trimmed();
    if (text.isEmpty()) return std::nullopt;
    if (auto common = CommonForm(text)) return common;
    if (auto parsed = FromFormats(text)) return DateAndTime{parsed->date(), parsed->time()};
    if (auto time = TimeFromText(text)) return DateAndTime{kZeroDay, *time};
    return std::nullopt;
}

QString DicomDateText(const QDate& date) {
    return Padded(date.year(), 4) + Padded(date.month(), 2) + Padded(date.day(), 2);
}

QString DicomTimeText(const QTime& time) {
    return Padded(time.hour(), 2) + Padded(time.minute(), 2) + Padded(time.second(), 2);
}
