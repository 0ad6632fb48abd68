#pragma once
// 月別集計: the per-card, per-month totals of the rows the grid shows, as the
// lines of the window's table, as a CSV file and as the bars of its chart.

#include "history/ViewCondition.h"
#include "history/MonthlyTotals.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace reports {

// The totals of the rows the grid shows (its view condition): empty when
// the grid shows nothing. Throws Failure when the store refuses the statement.
QList<MonthTotal> shownMonthlyTotals(const history::ViewQuery &view);

// "1,234,567円" (the grouping is app::groupedNumber's, the chart's amounts'
// too).
QString yenText(qint64 amount);

// One line of the table: a month of a card, the total of a card, or the
// total of all cards.
struct MonthlyLine {
    enum Kind { Month, CardTotal, GrandTotal } kind = Month;
    QStringList fields; // カードNO, 年月, 件数, 合計金額, 円以外件数 as shown
};

} // namespace reports
inline const QStringList kMonthlyHeader{QStringLiteral("カードNO"), QStringLiteral("年月"), QStringLiteral("件数"),
                                        QStringLiteral("合計金額"), QStringLiteral("円以外件数")};

namespace reports {

// The table: each card's months (newest first when newestFirst), then its
// 合計 line; after the last card the 合計 line of all cards. No lines for no months.
QList<MonthlyLine> monthlyTableLines(const QList<MonthTotal> &months, bool newestFirst);

// The CSV file's bytes: code page 932, CR LF, the header line, then one line
// per card and month ordered by card number and month ascending, no total
// lines; card number and month quoted, numbers bare.
QByteArray monthlyCsv(QList<MonthTotal> months);

// Writes monthlyCsv to path beside the target and moves it into place when
// complete. A file that could not be written is an ExpectedFailure naming
// it (an older file is as it was). Other failures go to the error report.
bool writeMonthlyCsv(const QString &path, const QList<MonthTotal> &months);

// The chart: one bar series per card, the cards with the largest totals
// first (at most maxCards), the others added up as "その他".
struct MonthlySeries {
    QString name;
    QList<qint64> sums; // one per entry of MonthlyChart::months
};

struct MonthlyChart {
    QStringList months; // ascending
    QList<MonthlySeries> series;
};

} // namespace reports
inline const QString kOtherCards = QStringLiteral("その他");
namespace reports {

MonthlyChart monthlyChart(const QList<MonthTotal> &months, int maxCards = 12);

// What the chart shows, chosen in the window: every card stacked per month,
// the months of one card, or the cards with the largest totals stacked with
// the others together as one segment "その他".
enum class MonthlyChartMode { AllStacked, OneCard, TopCards };
constexpr int kMonthlyTopCards = 5;

// The series of a mode over every month of the totals: AllStacked one per
// card, the largest totals first; OneCard only card's (none when it has no
// months); TopCards as reports::monthlyChart(months, kMonthlyTopCards).
MonthlyChart monthlyChartFor(const QList<MonthTotal> &months, MonthlyChartMode mode, const QString &card = QString());

// The amount axis of a chart whose series are stacked: from low to high
// (multiples of step, 1, 2 or 5 times a power of ten) holding every month's
// positive and negative parts, about `ticks` steps; labels with separators.
struct MonthlyScale {
    qint64 low = 0;
    qint64 high = 0;
    qint64 step = 1;
    QStringList labels() const; // low, low + step, ..., high
};

MonthlyScale monthlyScale(const MonthlyChart &chart, int ticks = 5);

} // namespace reports
