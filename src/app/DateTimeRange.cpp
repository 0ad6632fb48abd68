#include "app/DateTimeRange.h"

#include <utility>

namespace {
// Date and time to the second, ordered as a pair: no time zone involved.
std::pair<QDate, QTime> moment(const QDate &date, const QTime &time)
{
    return {date, QTime(time.hour(), time.minute(), time.second())};
}
} // namespace

QString app::dateTimeText(const QDate &date, const QTime &time)
{
    return date.toString(QStringLiteral("yyyy/MM/dd")) + QLatin1Char('-') + time.toString(QStringLiteral("HH:mm:ss"));
}

bool DateTimeRange::isReversed() const { return moment(endDate, endTime) < moment(startDate, startTime); }

bool DateTimeRange::contains(const QDate &date, const QTime &time) const
{
    if (!date.isValid() || !time.isValid())
        return false;
    const auto m = moment(date, time);
    return moment(startDate, startTime) <= m && m <= moment(endDate, endTime);
}
