#include "worklist/ListingLine.h"

#include "platform/DateTimeText.h"
#include "platform/MwlError.h"
#include "platform/his/FieldText.h"

namespace ListingLine {

QString Joined(std::initializer_list<QString> fields) {
    QString line;
    for (const QString& field : fields) line += QStringLiteral(" , ") + field;
    return line;
}

QString NameField(const Recordset& record) {
    return DisplayField(record, "MLN") + QLatin1Char('^') + DisplayField(record, "MFN") +
           QStringLiteral("^^");
}

QString DatePart(const Recordset& record) {
    const QVariant value = record.Field(QStringLiteral("TranD"));
    const auto when = ReadDateAndTime(value);
    if (!when) throw MwlError(QStringLiteral("TranD '%1' is not a date.").arg(FieldText(value)));
    return DisplayText(when->date);
}

}  // namespace ListingLine
