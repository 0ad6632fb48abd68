// The card data table and its input step with the duplicate and wrap checks.

#include "decode/CardTable.h"

#include "app/Failure.h"

#include <algorithm>

QList<CardRecord> CardTable{CardRecord{}};
int intDupCount = 0;
bool blnWrapCheck = false;
int intReadPhase = 0;
bool blnReadForward = false;

void decode::clearCardTable() { CardTable = QList<CardRecord>{CardRecord{}}; }

namespace {

// Whether the record equals one of elements max(count - back, 0) .. count.
bool matchesLast(const CardRecord &record, int count, int back)
{
    const int last = std::min<int>(count, int(CardTable.size()) - 1);
    for (int i = std::max(count - back, 0); i <= last; ++i)
        if (CardTable[i] == record)
            return true;
    return false;
}

} // namespace

qint16 decode::storeRecordFrame(qint16 &count, const QByteArray &frame, const CardTableLimits &limits)
{
    return guarded("basRS232C_VirtualTableInput", [&]() -> qint16 {
        CardRecord record;
        decode::decodeRecord(record, frame);
        if (record.PASS_TIME.isEmpty() || record.PASS_DATE.isEmpty())
            return -1;

        if (intReadPhase == 1) {
            if (matchesLast(record, count, 1)) {
                blnReadForward = false;
                ++intDupCount;
                return intDupCount < 3 ? -1 : 0;
            }
            if (intDupCount != 0) {
                intDupCount = 0;
                intReadPhase = 0;
            } else {
                intReadPhase = 2;
            }
        } else if (intReadPhase == 2) {
            blnReadForward = false;
            intReadPhase = 0;
            if (matchesLast(record, count, 1))
                return -1;
            blnWrapCheck = true;
        }

        if (matchesLast(record, count, 1))
            return -1;
        if (blnWrapCheck) {
            if (matchesLast(record, count, 5))
                return 0;
            blnWrapCheck = false;
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
        CardTable.resize(count + 1);
        CardTable[count] = record;
        return 1;
    });
}
