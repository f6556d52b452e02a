#include "worklist/ConditionBuilders.h"

#include "worklist/SqlText.h"

namespace {

const QString kStar = QStringLiteral("*");

QDateTime EarliestDate() { return QDateTime(QDate(1800, 1, 1), QTime(0, 0)); }
QDateTime LatestDate() { return QDateTime(QDate(2999, 1, 1), QTime(0, 0)); }
// 0.9999 of a day, as the classic date serial writes the end of a day.
QDateTime EndOfDayTime() { return DicomAttribute::ZeroDay(QTime(23, 59, 51)); }

bool IsEmptyOrUniversal(const QString& value) { return value.isEmpty() || value == kStar; }

// A date or time key that narrows: present, with a value that is neither
// empty nor universal.
bool HasRange(const DicomAttribute& key) {
    return key.Exists() && !key.IsNull() && !IsEmptyOrUniversal(key.Text());
}

// Both ends of the key's range against one part (date or time) of a column,
// each written in that part's literal form; open ends take low and high.
void AddPartRangeCondition(QString& query, const DicomAttribute& key, const QString& part,
                           const QDateTime& low, const QDateTime& high, const QString& format) {
    if (!HasRange(key)) return;
    query += QStringLiteral(" AND ") + part + ">='" + key.RangeStart(low).toString(format) + "'";
    query += QStringLiteral(" AND ") + part + "<='" + key.RangeEnd(high).toString(format) + "'";
}

}  // namespace

void AddStringCondition(QString& query, const QString& value, const QString& column,
                        SqlDialect dialect) {
    if (IsEmptyOrUniversal(value)) return;
    if (value.contains(kStar))
        query += QStringLiteral(" AND ") + column + " like '" +
                 SqlLiteralText(StarToPercent(value), dialect) + "'";
    else
        query += QStringLiteral(" AND ") + column + " = '" + SqlLiteralText(value, dialect) + "'";
}

QString StarToPercent(QString a) { return a.replace(kStar, QStringLiteral("%")); }

void AddListCondition(QString& query, const DicomAttribute& key, const QString& column,
                      SqlDialect dialect) {
    if (!key.Exists() || key.IsNull()) return;
    if (!key.IsMultiValued()) {
        AddStringCondition(query, key.Text(), column, dialect);
        return;
    }
    query += QStringLiteral(" AND ( FALSE");
    for (const QString& element : key.Values())
        query += QStringLiteral(" OR ") + column + " = '" + SqlLiteralText(element, dialect) + "'";
    query += QStringLiteral(" )");
}

void AddDateComparison(QString& query, const QDateTime& when, const QString& op,
                       const QString& column, SqlDialect dialect) {
    const QString format = dialect == SqlDialect::Sqlite ? QStringLiteral("yyyy-MM-dd HH:mm:00")
                                                         : QStringLiteral("yyyy-MM-dd HH:mm");
    query += QStringLiteral(" AND ") + column + op + "'" + when.toString(format) + "'";
}

void AddDateRangeCondition(QString& query, const DicomAttribute& key, const QString& column) {
    if (!HasRange(key)) return;
    AddDateComparison(query, key.RangeStart(EarliestDate()), QStringLiteral(">="), column);
    AddDateComparison(query, key.RangeEnd(LatestDate()), QStringLiteral("<="), column);
}

void AddLinkedDateTimeCondition(QString& query, const DicomAttribute& datecondition,
                                const DicomAttribute& timecondition, const QString& dbname,
                                SqlDialect dialect) {
    if (datecondition.Exists() && timecondition.Exists()) {
        const QDateTime low(datecondition.RangeStart(EarliestDate()).date(),
                            timecondition.RangeStart(DicomAttribute::ZeroDay(QTime(0, 0))).time());
        const QDateTime high(datecondition.RangeEnd(LatestDate()).date(),
                             timecondition.RangeEnd(EndOfDayTime()).time());
        AddDateComparison(query, low, QStringLiteral(">="), dbname, dialect);
        AddDateComparison(query, high, QStringLiteral("<="), dbname, dialect);
        return;
    }
    // A date alone is compared with the column's date, a time alone with its
    // time of day, whatever day that is.
    AddPartRangeCondition(query, datecondition, SqlDatePart(dbname, dialect), EarliestDate(),
                          LatestDate(), QStringLiteral("yyyy-MM-dd"));
    AddPartRangeCondition(query, timecondition, SqlTimePart(dbname, dialect),
                          DicomAttribute::ZeroDay(QTime(0, 0)),
                          DicomAttribute::ZeroDay(QTime(23, 59, 59)), QStringLiteral("HH:mm:ss"));
}

void AddNameCondition(QString& query, const DicomAttribute& condition, const QString& dbsurname,
                      const QString& dbforename, SqlDialect dialect) {
    if (!condition.Exists()) return;
    const QString name = condition.Text() + QStringLiteral("^^^^");
    const qsizetype first = name.indexOf(QLatin1Char('^'));
    const QString family = name.left(first);
    const QString rest = name.mid(first + 1);
    const QString given = rest.left(rest.indexOf(QLatin1Char('^')));
    AddStringCondition(query, family, dbsurname, dialect);
    AddStringCondition(query, given, dbforename, dialect);
}
