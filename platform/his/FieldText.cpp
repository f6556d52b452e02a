#include "platform/his/FieldText.h"

#include <QDateTime>
#include <QLocale>

namespace {

QString ShortDate(const QDate& date) {
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString TimeOfDay(const QTime& time) { return time.toString(QStringLiteral("HH:mm:ss")); }

}  // namespace

QString DisplayText(const QVariant& value) {
    if (value.isNull()) return QString();
    switch (value.typeId()) {
        case QMetaType::QDate:
            return ShortDate(value.toDate());
        case QMetaType::QDateTime: {
            const QDateTime when = value.toDateTime();
            if (when.time() == QTime(0, 0)) return ShortDate(when.date());
            return ShortDate(when.date()) + QLatin1Char(' ') + TimeOfDay(when.time());
        }
        case QMetaType::QTime:
            return TimeOfDay(value.toTime());
        default:
            return FieldText(value);
    }
}
