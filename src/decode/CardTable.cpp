// The card data table and its input step with the duplicate and wrap checks.

#include "decode/CardTable.h"

#include "app/Failure.h"

#include <algorithm>

// Whether the record equals one of elements max(count - back, 0) .. count.
bool decode::CardTable::matchesLast(const CardRecord &record, int count, int back) const
{
    const int last = std::min<int>(count, int(records.size()) - 1);
    for (int i = std::max(count - back, 0); i <= last; ++i)
        if (records[i] == record)
            return true;
    return false;
}

qint16 decode::CardTable::storeFrame(qint16 &count, const QByteArray &frame, const CardTableLimits &limits)
{
    return app::tagged(app::Procedure::StoreCardFrame, [&]() -> qint16 {
        CardRecord record;
        decode::decodeRecord(record, frame);
        if (record.PASS_TIME.isEmpty() || record.PASS_DATE.isEmpty())
            return -1;

        if (readPhase == 1) {
            if (matchesLast(record, count, 1)) {
                readForward = false;
                ++repeatsInPhase1;
                return repeatsInPhase1 < 3 ? -1 : 0;
            }
            if (repeatsInPhase1 != 0) {
                repeatsInPhase1 = 0;
                readPhase = 0;
            } else {
                readPhase = 2;
            }
        } else if (readPhase == 2) {
            readForward = false;
            readPhase = 0;
            if (matchesLast(record, count, 1))
                return -1;
            wrapCheck = true;
        }

        if (matchesLast(record, count, 1))
            return -1;
        if (wrapCheck) {
            if (matchesLast(record, count, 5))
                return 0;
            wrapCheck = false;
        }

        // A date that is no calendar date cannot lie before the start date:
        // such a record is kept like any other.
        if (const std::optional<QDate> &start = limits.startDate) {
            const QDate date = QDate::fromString(record.PASS_DATE, QStringLiteral("yyyy/MM/dd"));
            if (date.isValid() && start->isValid() && date < *start)
                return 0;
        }

        if (count >= kMaxCardRecords)
            return 0;
        ++count;
        if (limits.progress && count <= 100)
            limits.progress(count);
        records.resize(count + 1);
        records[count] = record;
        return 1;
    });
}
