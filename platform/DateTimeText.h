#pragma once

#include <QDate>
#include <QTime>
#include <QVariant>
#include <optional>

// A date and a time of day as a value states them, without a time zone.
struct DateAndTime {
    QDate date;
    QTime time;
};

// Reads a database or DICOM value as a date and time. Accepts QDateTime,
// QDate and QTime values and the text forms databases and modalities use:
// ISO (with blank or "T", optional seconds and fractions), YYYYMMDD[HHMMSS],
// and month/day/year with an optional time. A text holding only a time gives
// that time on 1899-12-30. Returns nothing for null, empty or unreadable.
std::optional<DateAndTime> ReadDateAndTime(const QVariant& value);

// True when the text holds a time of day and no date ("08:30", "083000").
bool IsTimeOnlyText(const QString& text);

// DICOM's DA and TM forms: YYYYMMDD and HHMMSS.
QString DicomDateText(const QDate& date);
QString DicomTimeText(const QTime& time);
