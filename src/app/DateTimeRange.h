#pragma once
// A date/time range as the two pairs of pickers show it, both ends inclusive
// to the second. Its texts and comparisons are built straight from the date
// and time values, never through local time: a moment that the local time
// zone skips (the spring-forward hour) is still exactly what the user picked.

#include <QDate>
#include <QString>
#include <QTime>

namespace app {

// "YYYY/MM/DD-HH:MM:SS", the form of the DATE_TIME column.
QString dateTimeText(const QDate &date, const QTime &time);

} // namespace app

struct DateTimeRange {
    QDate startDate;
    QTime startTime;
    QDate endDate;
    QTime endTime;

    QString startText() const { return app::dateTimeText(startDate, startTime); }
    QString endText() const { return app::dateTimeText(endDate, endTime); }

    // The end lies before the start.
    bool isReversed() const;
    // Whether a moment lies inside; an invalid date or time lies outside.
    bool contains(const QDate &date, const QTime &time) const;
};
