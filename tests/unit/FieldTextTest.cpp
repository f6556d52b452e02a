// The text form of database values in the operator's listings.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>

#include "platform/his/FieldText.h"

TEST(FieldText, NullIsEmptyAndDatesReadAsTheLocaleShowsThem) {
    const QDate day(2026, 12, 1);
    const QString shortDate = QLocale::system().toString(day, QLocale::ShortFormat);
    EXPECT_EQ(DisplayText(QVariant()), "");
    EXPECT_EQ(DisplayText(QVariant(QMetaType(QMetaType::QDateTime))), "");
    EXPECT_EQ(DisplayText(QDateTime(day, QTime(8, 5, 9))), shortDate + " 08:05:09");
    EXPECT_EQ(DisplayText(QDateTime(day, QTime(0, 0))), shortDate);
    EXPECT_EQ(DisplayText(day), shortDate);
    EXPECT_EQ(DisplayText(QTime(14, 30)), "14:30:00");
    // Text stays as the database stored it, dates in text included.
    EXPECT_EQ(DisplayText(QStringLiteral("2026-12-01 08:05:09")), "2026-12-01 08:05:09");
    EXPECT_EQ(DisplayText(42), "42");
    EXPECT_EQ(DisplayText(QString("")), "");
    EXPECT_EQ(FieldText(QVariant()), "");
}
