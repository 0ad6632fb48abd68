#pragma once
// The card data table filled by a card read: element 0 is always present and
// empty, records follow from element 1 in the order the card gave them; and
// the input step that decides, for each record frame, whether to store it,
// skip it as a repeat, or stop because the card's history has wrapped.

#include "decode/CardRecord.h"

#include <QDate>
#include <QList>
#include <functional>
#include <optional>

extern QList<CardRecord> CardTable;
extern int intDupCount;     // repeats met in phase 1 of this read
extern bool blnWrapCheck;   // compare the next record with the last six entries too
extern int intReadPhase;    // duplicate-check phase of the input (0, 1, 2)
extern bool blnReadForward; // the read asks for records with "F" instead of "B"

// What the caller of a card read adds to the input step: the date limit (the
// start date when reading is limited to a date/time range) and where the
// progress goes (told each stored record's count up to 100).
struct CardTableLimits {
    std::optional<QDate> startDate;
    std::function<void(int count)> progress;
};

namespace decode {

// Reduces the table to its empty element 0.
void clearCardTable();

// Stores, skips or stops on one "LD" frame. Returns 1 stored (count was
// incremented), -1 skipped, 0 stop the read.
qint16 storeRecordFrame(qint16 &count, const QByteArray &frame, const CardTableLimits &limits = {});

} // namespace decode

// The table holds at most this many records; a card that offers more ends
// the read there.
constexpr qint16 kMaxCardRecords = 32767;
