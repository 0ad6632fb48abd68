#pragma once
// CSV取込's count: what each record is (a key of its exported text, and
// where its passage lies), the copies the history already holds of the
// files' passages, and the tally of new records against them.

#include "reports/CsvImport.h"
#include "reports/CsvRecords.h"

#include <QHash>
#include <vector>

namespace reports::csvimport {

// A record's exported text as a 128-bit digest.
struct Key {
    quint64 a = 0, b = 0;
    bool operator==(const Key &o) const { return a == o.a && b == o.b; }
};
inline size_t qHash(const Key &k, size_t seed = 0) { return size_t(k.a) ^ seed; }
Key keyOf(QStringView line);

// Where a record's passage lies, as one number: its card number, date and
// time (checked digits all), so that within a card the numbers order as the
// passages do.
constexpr quint64 kCardScale = 100'000'000'000'000ULL; // 10^14

quint64 spotOf(QStringView card, const Record &r);
QString cardOfSpot(quint64 spot);

// "YYYY/MM/DD-HH:MM:SS", as DATE_TIME holds it.
QString dateTimeOfSpot(quint64 spot);

// A record as the count needs it.
struct Mark {
    Key key;
    quint64 spot = 0;
};

// The rows of ETC_DATA now.
qint64 historyRows();

// The history rows that may equal records of the files, as the export writes
// them: how many rows have each key. Those at the records' card numbers and
// times are found through their index, so that an import costs what its
// files hold, not what the history holds; a history with fewer rows than
// that is read whole.
// rows: historyRows() as the caller's lock found it.
QHash<Key, qint32> heldKeys(const std::vector<Mark> &marks, qint64 rows, const ReportProgress &progress, bool &stopped);

// Counts the records of the files against the copies the history holds:
// a record is new once the history's copies of it are used up.
class Tally {
public:
    explicit Tally(QHash<Key, qint32> history) : m_remaining(std::move(history)) {}

    bool isNew(const Mark &m);

    qint64 added() const { return m_summary.added; }

    CsvImportSummary summary(QList<CsvImportSummary::File> files) const;

private:
    QHash<Key, qint32> m_remaining;
    CsvImportSummary m_summary;
    QHash<int, CsvImportSummary::Card> m_cards;
    quint64 m_first = 0, m_last = 0;
};

} // namespace reports::csvimport
