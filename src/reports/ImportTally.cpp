#include "reports/ImportTally.h"

#include "app/Cp932.h"
#include "history/Database.h"
#include "reports/CsvExport.h"

#include <QSqlQuery>
#include <algorithm>

namespace reports::csvimport {

Key keyOf(QStringView line)
{
    const void *data = line.utf16();
    const size_t bytes = size_t(line.size()) * 2;
    return {quint64(qHashBits(data, bytes, 0x9e3779b97f4a7c15ULL)), quint64(qHashBits(data, bytes, 0x5bd1e995ULL))};
}

quint64 spotOf(QStringView card, const Record &r)
{
    int c = 0, y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    const QStringView date = r.f[fDate].raw, time = r.f[fTime].raw;
    digits(card, 0, 4, c);
    digits(date, 0, 4, y);
    digits(date, 5, 2, mo);
    digits(date, 8, 2, d);
    digits(time, 0, 2, h);
    digits(time, 3, 2, mi);
    digits(time, 6, 2, sec);
    return quint64(c) * kCardScale + (quint64(y) * 10000 + mo * 100 + d) * 1000000 + h * 10000 + mi * 100 + sec;
}

QString cardOfSpot(quint64 spot) { return QStringLiteral("%1").arg(spot / kCardScale, 4, 10, QLatin1Char('0')); }

QString dateTimeOfSpot(quint64 spot)
{
    const quint64 ymd = spot % kCardScale / 1000000, hms = spot % 1000000;
    return QString::asprintf("%04d/%02d/%02d-%02d:%02d:%02d", int(ymd / 10000), int(ymd / 100 % 100), int(ymd % 100),
                             int(hms / 10000), int(hms / 100 % 100), int(hms % 100));
}

qint64 historyRows()
{
    QSqlQuery count = history::execute(DbConnection::History, QStringLiteral("SELECT COUNT(*) FROM ETC_DATA"));
    return count.next() ? count.value(0).toLongLong() : 0;
}

QHash<Key, qint32> heldKeys(const std::vector<Mark> &marks, qint64 rows, const reports::ReportProgress &progress, bool &stopped)
{
    QHash<Key, qint32> keys;
    stopped = false;
    if (rows == 0)
        return keys;
    std::vector<quint64> spots;
    spots.reserve(marks.size());
    for (const Mark &m : marks)
        spots.push_back(m.spot);
    std::sort(spots.begin(), spots.end());
    spots.erase(std::unique(spots.begin(), spots.end()), spots.end());
    if (spots.empty())
        return keys;
    const auto add = [&](const QByteArray &line) {
        ++keys[keyOf(cp932::decode(line.chopped(2)))]; // without CR LF
    };
    const reports::ReportProgress asked =
        progress ? reports::ReportProgress([&](qint64, qint64) { return progress(0, 0); }) : reports::ReportProgress();
    if (rows <= qint64(spots.size())) {
        stopped = !reports::csvLinesOf(QStringLiteral("SELECT * FROM ETC_DATA WHERE カードNO IS NOT NULL"), add, asked);
        return keys;
    }
    size_t next = 0;
    const history::PassageSpots at = [&](QByteArray &card, QByteArray &dateTime) {
        if (next == spots.size())
            return false;
        card = cardOfSpot(spots[next]).toLatin1();
        dateTime = dateTimeOfSpot(spots[next]).toLatin1();
        ++next;
        return true;
    };
    stopped = !reports::csvLinesOf(QStringLiteral("SELECT ETC_DATA.* FROM passlog_spots CROSS JOIN ETC_DATA "
                                         "WHERE ETC_DATA.カードNO = passlog_spots.card "
                                         "AND ETC_DATA.DATE_TIME = passlog_spots.dt"),
                          add, asked, at);
    // Rows another tool stored on the server without a DATE_TIME at all
    // (the history file has its column mended at the open): found by their
    // passage's date and time, each at its one spot.
    if (!stopped && history::usesServer()) {
        next = 0;
        stopped = !reports::csvLinesOf(QStringLiteral("SELECT ETC_DATA.* FROM passlog_spots CROSS JOIN ETC_DATA "
                                             "WHERE ETC_DATA.カードNO = passlog_spots.card AND ETC_DATA.DATE_TIME IS NULL "
                                             "AND passlog_spots.dt = ETC_DATA.PASS_DATE || '-' || ETC_DATA.PASS_TIME"),
                              add, asked, at);
    }
    return keys;
}

bool Tally::isNew(const Mark &m)
{
    reports::CsvImportSummary::Card &c = m_cards[int(m.spot / kCardScale)];
    const quint64 when = m.spot % kCardScale;
    if (m_summary.lines == 0 || when < m_first)
        m_first = when;
    if (m_summary.lines == 0 || when > m_last)
        m_last = when;
    ++m_summary.lines;
    ++c.lines;
    const auto it = m_remaining.find(m.key);
    if (it != m_remaining.end() && *it > 0) {
        --*it;
        ++m_summary.present;
        return false;
    }
    ++m_summary.added;
    ++c.added;
    return true;
}

reports::CsvImportSummary Tally::summary(QList<reports::CsvImportSummary::File> files) const
{
    reports::CsvImportSummary s = m_summary;
    s.files = std::move(files);
    for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it)
        s.cards.insert(cardOfSpot(quint64(it.key()) * kCardScale), *it);
    if (s.lines > 0) {
        s.first = dateTimeOfSpot(m_first);
        s.last = dateTimeOfSpot(m_last);
    }
    return s;
}
} // namespace reports::csvimport
