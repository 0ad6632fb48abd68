// 月別集計: the months of a card add up to the grid's count and sum of that
// card for any view, the table's total lines, the CSV file's bytes, the
// chart's series and the window's chart as it is read.

#include "history/ViewCondition.h"
#include "app/RunSettings.h"
#include "ReportFixture.h"
#include "history/GridLoad.h"
#include "reports/MonthlyReport.h"
#include "reports/ReportRows.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "ui/MonthlyTotalsPrint.h"
#include "ui/MonthlyTotalsWindow.h"

#include <QAbstractBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QGraphicsTextItem>
#include <QPdfWriter>
#include <QStandardPaths>
#include <QPushButton>
#include <QRegularExpression>

using namespace ui;

namespace {
// The grid's count and sum of a view, by the labels' own statement.
history::GridTotals gridTotals()
{
    history::GridTotals t;
    QSqlQuery q = history::execute(DbConnection::History, history::gridTotalsSql(reports::shownRowsStatement(testView)));
    if (q.next()) {
        t.count = q.value(0).toLongLong();
        t.sum = q.value(1).toLongLong();
    }
    return t;
}

void plant(const QString &card, const QString &day, const QString &toll)
{
    insertRecord("ETC_DATA", tomeiRecord(card),
                 {{"ご利用日", day}, {"DATE_TIME", day + "-12:00:00"}, {"PASS_DATE", day}, {"通行料金", toll}});
}

void viewOf(const QString &card, const QString &from = QString(), const QString &to = QString())
{
    showView(2);
    testView.cardNo = card;
    if (!from.isEmpty()) {
        testView.ranged = true;
        testView.start = from;
        testView.end = to;
    }
}
// cards cards over the twelve months of 2024, the first with the largest
// totals: as a fleet whose few cars drive most.
QList<MonthTotal> cardsOverAYear(int cards)
{
    QList<MonthTotal> months;
    for (int c = 1; c <= cards; ++c)
        for (int m = 1; m <= 12; ++m)
            months << MonthTotal{QString::number(1000 + 373 * c), QStringLiteral("2024/%1").arg(m, 2, 10, QLatin1Char('0')),
                                 10 + c, 12000000 / c + 10000 * m, 0};
    return months;
}

// The texts the chart shows whole: titles, axis labels, legend; none that is
// hidden or cut by the view or by an item that clips it.
QStringList chartTexts(const MonthlyTotalsWindow &w)
{
    QStringList out;
    const QRectF shown = w.chtTotals->mapToScene(w.chtTotals->viewport()->rect()).boundingRect().adjusted(-1, -1, 1, 1);
    for (QGraphicsItem *item : w.chtTotals->scene()->items()) {
        auto *text = dynamic_cast<QGraphicsTextItem *>(item);
        if (!text || !text->isVisible() || text->toPlainText().isEmpty())
            continue;
        const QRectF at = text->mapToScene(text->boundingRect()).boundingRect().adjusted(2, 2, -2, -2);
        bool whole = shown.contains(at);
        for (QGraphicsItem *p = text->parentItem(); p && whole; p = p->parentItem())
            if (p->flags() & QGraphicsItem::ItemClipsChildrenToShape)
                whole = p->mapToScene(p->boundingRect()).boundingRect().contains(at);
        if (whole)
            out << text->toPlainText();
    }
    return out;
}

// The bars shown: the kind of series, its sets' names and per month the sum of the sets.
struct ShownBars {
    QString kind;
    QStringList names;
    QList<qint64> monthSums;
};
ShownBars shownBars(const MonthlyTotalsWindow &w)
{
    ShownBars out;
    for (QAbstractSeries *s : w.chtTotals->chart()->series())
        if (auto *bars = qobject_cast<QAbstractBarSeries *>(s)) {
            out.kind += QString::fromLatin1(bars->metaObject()->className());
            for (QBarSet *set : bars->barSets()) {
                out.names << set->label();
                out.monthSums.resize(qMax(out.monthSums.size(), qsizetype(set->count())));
                for (int i = 0; i < set->count(); ++i)
                    out.monthSums[i] += qint64(set->at(i));
            }
        }
    return out;
}

// The text of the window's pages printed to a PDF file, by pdftotext; empty without it.
QString printedText(const MonthlyTotalsWindow &w, const QList<MonthTotal> &months, const QString &pdf)
{
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        return QString();
    {
        QPdfWriter writer(pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(QPageLayout::Landscape);
        if (!paintMonthlyTotals(writer, reports::monthlyTableLines(months, true), QString(), *w.chtTotals))
            return QStringLiteral("<not printed>");
    }
    QProcess run;
    run.start(pdftotext, {pdf, "-"});
    run.waitForFinished();
    return QString::fromUtf8(run.readAllStandardOutput());
}

QList<qint64> monthSums(const QList<MonthTotal> &months, const QString &card = QString())
{
    QList<qint64> sums(12, 0);
    for (const MonthTotal &m : months)
        if (card.isEmpty() || m.card == card)
            sums[m.month.mid(5).toInt() - 1] += m.sum;
    return sums;
}
} // namespace

class TestMonthlyTotals : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        openDatabases(*h);
        app::runSettings().viewSort = QStringLiteral("NEW");
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    // Three months, two cards, yen amounts among 未確定, 度数 and a toll that
    // is no number: each card's months give the grid's count and sum of the
    // card, under every card and range condition.
    void monthsAddUpToTheGrid()
    {
        const QList<std::tuple<QString, QString, QString>> rows{
            {"1111", "2024/03/31", "1320円"}, {"1111", "2024/04/01", "未確定"},   {"1111", "2024/04/02", "未確定"},
            {"1111", "2024/04/15", "2000000000円"}, {"1111", "2024/04/16", "2000000000円"}, {"1111", "2024/05/01", "-300円"},
            {"1111", "2024/05/02", "abc円"},  {"2222", "2024/03/01", "12度数"},   {"2222", "2024/03/02", "未確定"},
            {"2222", "2024/04/30", "980円"},  {"2222", "2024/05/31", "+450円"},   {"2222", "2024/05/31", "450円"},
        };
        for (const auto &[card, day, toll] : rows)
            plant(card, day, toll);

        struct View { QString card, from, to; };
        for (const View &v : {View{"0000"}, View{"1111"}, View{"2222"},
                              View{"0000", "2024/04/01-00:00:00", "2024/05/01-23:59:59"}}) {
            viewOf(v.card, v.from, v.to);
            const QList<MonthTotal> months = reports::shownMonthlyTotals(testView);
            qint64 allCount = 0, allSum = 0;
            for (const QString &card : {QStringLiteral("1111"), QStringLiteral("2222")}) {
                qint64 count = 0, sum = 0;
                for (const MonthTotal &m : months)
                    if (m.card == card) {
                        count += m.count;
                        sum += m.sum;
                    }
                viewOf(v.card == "0000" || v.card == card ? card : QStringLiteral("none"), v.from, v.to);
                const history::GridTotals grid = gridTotals();
                QCOMPARE(count, grid.count);
                QCOMPARE(sum, grid.sum);
                allCount += count;
                allSum += sum;
            }
            viewOf(v.card, v.from, v.to);
            QCOMPARE(allCount, gridTotals().count);
            QCOMPARE(allSum, gridTotals().sum);
        }

        viewOf("0000");
        const QList<MonthTotal> months = reports::shownMonthlyTotals(testView);
        QCOMPARE(months.size(), 6);
        QCOMPARE(months[1].card, QStringLiteral("1111"));
        QCOMPARE(months[1].month, QStringLiteral("2024/04"));
        QCOMPARE(months[1].count, 4);
        QCOMPARE(months[1].sum, 4000000000LL); // beyond 32 bits
        QCOMPARE(months[1].nonYen, 2);          // 未確定 twice: rows are counted, not texts
        QCOMPARE(months[2].sum, -300);          // "abc円" counted, not added, not 円以外
        QCOMPARE(months[2].count, 2);
        QCOMPARE(months[2].nonYen, 0);
        QCOMPARE(months[3].nonYen, 2);
        QCOMPARE(months[3].sum, 0);
        QCOMPARE(months[5].sum, 900);

        // The table: months newest first under NEW, a total per card and one for all.
        const QList<reports::MonthlyLine> lines = reports::monthlyTableLines(months, true);
        QCOMPARE(lines.size(), 6 + 2 + 1);
        QCOMPARE(lines[0].fields, (QStringList{"1111", "2024/05", "2", "-300円", "0"}));
        QCOMPARE(lines[3].kind, reports::MonthlyLine::CardTotal);
        QCOMPARE(lines[3].fields, (QStringList{"1111", "合計", "7", "4,000,001,020円", "2"}));
        QCOMPARE(lines[8].kind, reports::MonthlyLine::GrandTotal);
        QCOMPARE(lines[8].fields, (QStringList{"全カード", "合計", "12", "4,000,002,900円", "4"}));
        QCOMPARE(reports::monthlyTableLines(months, false)[0].fields.at(1), QStringLiteral("2024/03"));
        QCOMPARE(reports::yenText(-1234567), QStringLiteral("-1,234,567円"));
        QCOMPARE(reports::yenText(999), QStringLiteral("999円"));

        // The CSV file: ascending whatever the order given, no totals.
        QList<MonthTotal> reversed(months.rbegin(), months.rend());
        QCOMPARE(reports::monthlyCsv(reversed),
                 cp932::encode("カードNO,年月,件数,合計金額,円以外件数\r\n"
                               "\"1111\",\"2024/03\",1,1320,0\r\n\"1111\",\"2024/04\",4,4000000000,2\r\n"
                               "\"1111\",\"2024/05\",2,-300,0\r\n\"2222\",\"2024/03\",2,0,2\r\n"
                               "\"2222\",\"2024/04\",1,980,0\r\n\"2222\",\"2024/05\",2,900,0\r\n"));
        const QString file = QDir(h->programFolder()).filePath("totals.csv");
        QVERIFY(reports::writeMonthlyCsv(file, months));
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), reports::monthlyCsv(months));
    }

    // At most twelve cards by their totals, the others as "その他"; no more
    // series than cards.
    void chartSeries()
    {
        QList<MonthTotal> months;
        for (int c = 1; c <= 14; ++c)
            for (const char *month : {"2024/01", "2024/02"})
                months << MonthTotal{QStringLiteral("%1").arg(c, 4, 10, QLatin1Char('0')), month, 1, c * 100, 0};
        months << MonthTotal{"0001", "2023/12", 1, 5000, 0}; // card 1 largest with this
        const reports::MonthlyChart chart = reports::monthlyChart(months);
        QCOMPARE(chart.months, (QStringList{"2023/12", "2024/01", "2024/02"}));
        QCOMPARE(chart.series.size(), 13);
        QCOMPARE(chart.series[0].name, QStringLiteral("0001"));
        QCOMPARE(chart.series[0].sums, (QList<qint64>{5000, 100, 100}));
        QCOMPARE(chart.series[1].name, QStringLiteral("0014"));
        QCOMPARE(chart.series[12].name, kOtherCards);
        QCOMPARE(chart.series[12].sums, (QList<qint64>{0, 200 + 300, 200 + 300})); // cards 2 and 3
        QCOMPARE(reports::monthlyChart(months.mid(0, 4)).series.size(), 2);
        QVERIFY(reports::monthlyChart({}).series.isEmpty());
    }

    // 3 and 20 cards over a year at the window's first size: every month
    // whole, amounts with separators; each mode one bar a month adding up to
    // the month's totals; the choice and the size back at the next opening.
    void chartReadableAndRemembered()
    {
        QCOMPARE(reports::monthlyScale(reports::MonthlyChart{{"2024/05"}, {{"1111", {38000000}}}}).labels(),
                 (QStringList{"0", "10,000,000", "20,000,000", "30,000,000", "40,000,000"}));
        // Stacked: the positive parts up, the negative ones down.
        QCOMPARE(reports::monthlyScale(reports::MonthlyChart{{"2024/04", "2024/05"}, {{"1111", {1320, -300}}, {"2222", {980, -450}}}})
                     .labels(),
                 (QStringList{"-1,000", "0", "1,000", "2,000", "3,000"}));
        QCOMPARE(reports::monthlyScale(reports::MonthlyChart{}).labels(), (QStringList{"0", "200", "400", "600", "800", "1,000"}));

        QVERIFY(app::writeProfileString(kSectionMain, "ViewSort", "NEW", app::settingsFileName()));
        for (int cards : {3, 20}) {
            // The window as first opened (not as the last round left it).
            app::writeProfileString("MONTHLY", "Width", "", app::settingsFileName());
            app::writeProfileString("MONTHLY", "ChartMode", "", app::settingsFileName());
            const QList<MonthTotal> year = cardsOverAYear(cards);
            auto w = std::make_unique<MonthlyTotalsWindow>(year, QStringLiteral("カードNO: 全カード"));
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            const auto readable = [&] {
                const QStringList texts = chartTexts(*w);
                for (int m = 1; m <= 12; ++m)
                    if (!texts.contains(QStringLiteral("2024/%1").arg(m, 2, 10, QLatin1Char('0'))))
                        return false;
                // Qt cuts a label short with "..."
                return texts.filter(QRegularExpression(QStringLiteral("\\.\\.\\.|…"))).isEmpty() &&
                       texts.filter(QRegularExpression("^\\d{1,3}(,\\d{3})+$")).size() >= 2 &&
                       texts.filter(QRegularExpression("^-?\\d{5,}$")).isEmpty();
            };
            QTRY_VERIFY2(readable(), qPrintable(chartTexts(*w).join(" | ")));

            QCOMPARE(w->cboChartMode->currentText(), QStringLiteral("上位5件 + その他"));
            ShownBars bars = shownBars(*w);
            QCOMPARE(bars.kind, QStringLiteral("QStackedBarSeries"));
            QCOMPARE(bars.monthSums, monthSums(year));
            QCOMPARE(bars.names.size(), qMin(cards, 6));
            QCOMPARE(bars.names.first(), QStringLiteral("1373"));
            QCOMPARE(bars.names.last().startsWith(kOtherCards), cards > 5);
            if (cards > 5)
                QCOMPARE(bars.names.last(), QStringLiteral("その他 (15枚)"));
            // On paper as shown.
            const QString pdf = QDir(h->programFolder()).filePath("totals.pdf");
            QString printed = printedText(*w, year, pdf);
            if (!printed.isEmpty()) {
                QVERIFY2(printed.contains(cards > 5 ? "その他 (15枚)" : "2119"), qPrintable(printed));
                QVERIFY2(printed.contains(cards > 5 ? "50,000,000" : "25,000,000"), qPrintable(printed));
            }

            w->cboChartMode->setCurrentText(QStringLiteral("全カード (積み上げ)"));
            bars = shownBars(*w);
            QCOMPARE(bars.kind, QStringLiteral("QStackedBarSeries"));
            QCOMPARE(bars.names.size(), cards);
            QCOMPARE(bars.monthSums, monthSums(year));
            QTRY_VERIFY2(readable(), qPrintable(chartTexts(*w).join(" | ")));
            // Every card in the legend, none left out for want of room.
            for (const QString &card : bars.names)
                QVERIFY2(chartTexts(*w).contains(card), qPrintable(card));

            QVERIFY(!w->cboChartCard->isEnabled());
            w->cboChartMode->setCurrentText(QStringLiteral("カード別"));
            QVERIFY(w->cboChartCard->isEnabled());
            w->cboChartCard->setCurrentText(QStringLiteral("2119"));
            bars = shownBars(*w);
            QCOMPARE(bars.kind, QStringLiteral("QBarSeries"));
            QCOMPARE(bars.names, QStringList{"2119"});
            QCOMPARE(bars.monthSums, monthSums(year, "2119"));
            QTRY_VERIFY2(readable(), qPrintable(chartTexts(*w).join(" | ")));
            printed = printedText(*w, year, pdf);
            if (!printed.isEmpty()) {
                QVERIFY2(!printed.contains(kOtherCards) && printed.contains("4,000,000"), qPrintable(printed));
            }

            w->resize(1000 + cards, 700);
            w->cmdClose->click();
            QCOMPARE(app::readProfileString("MONTHLY", "ChartMode", app::settingsFileName()), QStringLiteral("CARD"));
            MonthlyTotalsWindow again(year, QString());
            QCOMPARE(again.chartMode(), reports::MonthlyChartMode::OneCard);
            QCOMPARE(again.cboChartCard->currentText(), QStringLiteral("2119"));
            QCOMPARE(shownBars(again).names, QStringList{"2119"});
            QCOMPARE(again.size(), QSize(1000 + cards, 700));
            // Closed with Esc or the window's ×: kept as well.
            again.cboChartMode->setCurrentIndex(int(reports::MonthlyChartMode::AllStacked));
            again.reject();
            QCOMPARE(app::readProfileString("MONTHLY", "ChartMode", app::settingsFileName()), QStringLiteral("STACKED"));
        }
        // Three years in the window at its smallest: the chart scrolls, no
        // month is cut short.
        QList<MonthTotal> years;
        QStringList yearMonths;
        for (int m = 0; m < 36; ++m) {
            yearMonths << QStringLiteral("%1/%2").arg(2022 + m / 12).arg(m % 12 + 1, 2, 10, QLatin1Char('0'));
            years << MonthTotal{"1373", yearMonths.last(), 1, 1000 * (m + 1), 0};
        }
        MonthlyTotalsWindow longer(years, QString());
        longer.resize(longer.minimumSizeHint());
        longer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&longer));
        const auto allMonths = [&] {
            const QStringList texts = chartTexts(longer);
            return std::all_of(yearMonths.begin(), yearMonths.end(), [&](const QString &m) { return texts.contains(m); });
        };
        QTRY_VERIFY2(allMonths(), qPrintable(chartTexts(longer).join(" | ")));
        longer.reject();

        // A size the screen cannot hold and a choice the window does not
        // know are not taken back.
        app::writeProfileString("MONTHLY", "Width", "5000", app::settingsFileName());
        app::writeProfileString("MONTHLY", "ChartMode", "BARS", app::settingsFileName());
        MonthlyTotalsWindow tooWide(cardsOverAYear(3), QString());
        QCOMPARE(tooWide.chartMode(), reports::MonthlyChartMode::TopCards);
        QVERIFY(tooWide.width() < 1280);
    }

    // With PASSLOG_MONTHLY_SCREENSHOTS naming a folder: the window with 3 and
    // with 20 cards as first opened, as monthly-<cards>cards-<scale %>.png.
    void screenshots()
    {
        const QString folder = qEnvironmentVariable("PASSLOG_MONTHLY_SCREENSHOTS");
        if (folder.isEmpty())
            QSKIP("PASSLOG_MONTHLY_SCREENSHOTS names no folder");
        for (int cards : {3, 20}) {
            MonthlyTotalsWindow w(cardsOverAYear(cards), QStringLiteral("カードNO: 全カード　期間: 全レコード"));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTest::qWait(300);
            const QPixmap shot = w.grab();
            const QString name = QStringLiteral("monthly-%1cards-%2.png").arg(cards).arg(qRound(shot.devicePixelRatio() * 100));
            QVERIFY(shot.save(QDir(folder).filePath(name)));
        }
    }
};

QTEST_MAIN(TestMonthlyTotals)
#include "tst_monthlytotals.moc"
