#include "reports/MonthlyReport.h"
#include "reports/CsvLine.h"
#include "app/Constants.h"

#include "app/CheckedSaveFile.h"
#include "app/Cp932.h"
#include "app/Failure.h"
#include "app/Common.h"
#include "history/ViewCondition.h"
#include "reports/ReportRows.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <algorithm>

namespace {
const QString kTotal = QStringLiteral("合計");
const QString kAllCards = QStringLiteral("全カード");

bool byCardAndMonth(const MonthTotal &a, const MonthTotal &b)
{
    return a.card != b.card ? a.card < b.card : a.month < b.month;
}

QStringList fieldsOf(const QString &card, const QString &month, qint64 count, qint64 sum, qint64 nonYen)
{
    return {card, month, QString::number(count), reports::yenText(sum), QString::number(nonYen)};
}
} // namespace

QList<MonthTotal> reports::shownMonthlyTotals(const history::ViewQuery &view)
{
    return history::monthlyTotals(view.viewType == 2 ? reports::shownRowsStatement(view) : QString());
}

QString reports::yenText(qint64 amount)
{
    return app::groupedNumber(amount) + QStringLiteral("円");
}

QList<reports::MonthlyLine> reports::monthlyTableLines(const QList<MonthTotal> &months, bool newestFirst)
{
    QList<MonthTotal> sorted = months;
    std::stable_sort(sorted.begin(), sorted.end(), [&](const MonthTotal &a, const MonthTotal &b) {
        if (a.card != b.card)
            return a.card < b.card;
        return newestFirst ? a.month > b.month : a.month < b.month;
    });
    QList<reports::MonthlyLine> lines;
    MonthTotal card, all;
    for (qsizetype i = 0; i < sorted.size(); ++i) {
        const MonthTotal &m = sorted[i];
        lines << reports::MonthlyLine{reports::MonthlyLine::Month, fieldsOf(m.card, m.month, m.count, m.sum, m.nonYen)};
        for (MonthTotal *t : {&card, &all}) {
            t->count += m.count;
            t->sum += m.sum;
            t->nonYen += m.nonYen;
        }
        if (i + 1 == sorted.size() || sorted[i + 1].card != m.card) {
            lines << reports::MonthlyLine{reports::MonthlyLine::CardTotal, fieldsOf(m.card, kTotal, card.count, card.sum, card.nonYen)};
            card = MonthTotal();
        }
    }
    if (!sorted.isEmpty())
        lines << reports::MonthlyLine{reports::MonthlyLine::GrandTotal, fieldsOf(kAllCards, kTotal, all.count, all.sum, all.nonYen)};
    return lines;
}

QByteArray reports::monthlyCsv(QList<MonthTotal> months)
{
    std::stable_sort(months.begin(), months.end(), byCardAndMonth);
    using reports::csv::quoted;
    QString text = kMonthlyHeader.join(QLatin1Char(',')) + reports::csv::kLineEnd;
    for (const MonthTotal &m : months)
        text += quoted(m.card) + QLatin1Char(',') + quoted(m.month) + QLatin1Char(',') + QString::number(m.count) +
                QLatin1Char(',') + QString::number(m.sum) + QLatin1Char(',') + QString::number(m.nonYen) +
                reports::csv::kLineEnd;
    return cp932::encode(text);
}

bool reports::writeMonthlyCsv(const QString &path, const QList<MonthTotal> &months)
{
    return app::tagged(app::Procedure::WriteMonthlyCsv, [&] {
        const bool existed = QFile::exists(path);
        app::CheckedSaveFile out(path);
        app::openForWriting(out);
        const QByteArray bytes = reports::monthlyCsv(months);
        if (out.write(bytes) != bytes.size() || !out.commit()) {
            out.close(); // the old file stays; the caller's command tells the user
            throw ExpectedFailure(-1, app::fileNotWrittenText(QStringLiteral("CSVファイル"), path, existed));
        }
        return true;
    });
}

reports::MonthlyChart reports::monthlyChart(const QList<MonthTotal> &months, int maxCards)
{
    reports::MonthlyChart chart;
    QMap<QString, int> monthIndex;
    QMap<QString, qint64> cardSums;
    for (const MonthTotal &m : months) {
        monthIndex.insert(m.month, 0);
        cardSums[m.card] += m.sum;
    }
    chart.months = monthIndex.keys();
    for (int i = 0; i < chart.months.size(); ++i)
        monthIndex[chart.months[i]] = i;
    QStringList cards = cardSums.keys(); // by number
    std::stable_sort(cards.begin(), cards.end(),
                     [&](const QString &a, const QString &b) { return cardSums[a] > cardSums[b]; });
    QHash<QString, int> seriesOf;
    for (int i = 0; i < cards.size(); ++i)
        seriesOf.insert(cards[i], qMin(i, maxCards));
    const int seriesCount = int(qMin<qsizetype>(cards.size(), maxCards + 1));
    for (int i = 0; i < seriesCount; ++i)
        chart.series << reports::MonthlySeries{i < maxCards ? cards[i] : kOtherCards, QList<qint64>(chart.months.size(), 0)};
    for (const MonthTotal &m : months)
        chart.series[seriesOf.value(m.card)].sums[monthIndex.value(m.month)] += m.sum;
    return chart;
}

reports::MonthlyChart reports::monthlyChartFor(const QList<MonthTotal> &months, reports::MonthlyChartMode mode, const QString &card)
{
    if (mode == reports::MonthlyChartMode::TopCards)
        return reports::monthlyChart(months, kMonthlyTopCards);
    // As many series as cards: no その他.
    reports::MonthlyChart chart = reports::monthlyChart(months, int(qMin<qsizetype>(months.size(), 1 << 20)));
    if (mode == reports::MonthlyChartMode::OneCard)
        chart.series.removeIf([&](const reports::MonthlySeries &s) { return s.name != card; });
    return chart;
}

QStringList reports::MonthlyScale::labels() const
{
    QStringList out;
    for (qint64 v = low; v <= high; v += step)
        out << app::groupedNumber(v);
    return out;
}

reports::MonthlyScale reports::monthlyScale(const reports::MonthlyChart &chart, int ticks)
{
    // Stacked bars grow up by their positive parts and down by their negative ones.
    qint64 high = 0, low = 0;
    for (qsizetype m = 0; m < chart.months.size(); ++m) {
        qint64 up = 0, down = 0;
        for (const reports::MonthlySeries &s : chart.series)
            (s.sums.value(m) > 0 ? up : down) += s.sums.value(m);
        high = qMax(high, up);
        low = qMin(low, down);
    }
    if (high == 0 && low == 0)
        high = 1000;
    const qint64 wanted = qMax<qint64>(1, (high - low + qMax(ticks, 1) - 1) / qMax(ticks, 1));
    qint64 power = 1;
    while (power <= wanted / 10)
        power *= 10;
    reports::MonthlyScale scale;
    for (qint64 factor : {1, 2, 5, 10}) {
        scale.step = factor * power;
        if (scale.step >= wanted)
            break;
    }
    scale.high = (high + scale.step - 1) / scale.step * scale.step;
    scale.low = -((-low + scale.step - 1) / scale.step * scale.step);
    return scale;
}
