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

// What the caller of a card read adds to the input step: the date limit (the
// start date when reading is limited to a date/time range) and where the
// progress goes (told each stored record's count up to 100).
struct CardTableLimits {
    std::optional<QDate> startDate;
    std::function<void(int count)> progress;
};

namespace decode {

// One card read's table. The reader link keeps the one of the program
// (reader::link().cardTable()); a test builds its own.
struct CardTable {
    QList<CardRecord> records{CardRecord{}}; // element 0 empty, then the card's records

    // The state of the duplicate checks, which the card read sets as it asks
    // for records and the input step changes.
    int repeatsInPhase1 = 0; // repeats met in phase 1 of this read
    bool wrapCheck = false;  // compare the next record with the last six entries too
    int readPhase = 0;       // duplicate-check phase of the input (0, 1, 2)
    bool readForward = false; // the read asks for records with "F" instead of "B"

    // Reduces the table to its empty element 0 (the check state stays).
    void clear() { records = QList<CardRecord>{CardRecord{}}; }
    // Records stored (the last element's number).
    int count() const { return int(records.size()) - 1; }

    // Stores, skips or stops on one "LD" frame. Returns 1 stored (count was
    // incremented), -1 skipped, 0 stop the read.
    qint16 storeFrame(qint16 &count, const QByteArray &frame, const CardTableLimits &limits = {});

private:
    bool matchesLast(const CardRecord &record, int count, int back) const;
};

} // namespace decode

// The table holds at most this many records; a card that offers more ends
// the read there.
constexpr qint16 kMaxCardRecords = 32767;
