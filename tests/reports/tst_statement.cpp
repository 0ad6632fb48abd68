// The A4 statement: the texts of its headers, record blocks and subtotals,
// and how they fall onto pages; then the same statement drawn into a PDF.

#include "history/ViewCondition.h"
#include "app/RunSettings.h"
#include "ReportFixture.h"
#include "reports/StatementPrint.h"

#include <QBuffer>
#include <QPdfWriter>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {
QString blanks(int n) { return QString(n, QLatin1Char(' ')); }

// n records of one card in a table, a day apart from 2024/01/01, tolls 100, 200, ... yen.
void addRecords(const QString &table, const QString &card, int n, int firstDay = 1)
{
    for (int i = 0; i < n; ++i) {
        const QDate d = QDate(2024, 1, 1).addDays(firstDay - 1 + i);
        const QString date = d.toString(QStringLiteral("yyyy/MM/dd"));
        insertRecord(table, tomeiRecord(card),
                     {{"PASS_DATE", date}, {"ご利用日", date}, {"DATE_TIME", date + "-18:42:10"},
                      {"通行料金", QStringLiteral("%1円").arg(100 * (i + 1))}});
    }
}

reports::Statement shownStatement(const QString &card = QStringLiteral("1234"))
{
    reports::QueryRows rows(reports::shownRowsStatement(testView));
    return reports::buildStatement(std::ref(rows), testView.viewType, card, QDate(2010, 6, 3));
}

QStringList subtotal(const QString &card, const QString &count, const QString &sum)
{
    return {card, blanks(18 - count.size()) + count + "件" + blanks(10 - sum.size()) + sum + "円"};
}

// The card numbers and kinds of the body lines: "R1234" a record block, "S1234" a subtotal.
QStringList blocks(const reports::StatementPage &page)
{
    QStringList out;
    for (int i = 0; i + 1 < page.body.size(); i += 2)
        out << (page.body[i + 1].contains("件") ? "S" : "R") + page.body[i].left(4);
    return out;
}
} // namespace

class TestStatement : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHarness> h;

private slots:
    void init()
    {
        h = std::make_unique<TestHarness>();
        openDatabases(*h);
        app::runSettings().viewSort = QStringLiteral("OLD");
    }
    void cleanup()
    {
        closeDatabases();
        h.reset();
        app::runSettings().programFolder.clear();
    }

    void header()
    {
        QCOMPARE(reports::statementOutputDate(QDate(2024, 5, 1)), QStringLiteral(" 2024年 5月 1日"));
        QCOMPARE(reports::statementOutputDate(QDate(2024, 12, 31)), QStringLiteral(" 2024年12月31日"));
        const QStringList lines = reports::statementHeaderLines(12, reports::statementOutputDate(QDate(2010, 6, 3)));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[TitleLine], blanks(10) + "ＥＴＣ利用履歴明細表" + blanks(20));
        QCOMPARE(lines[DateLine], blanks(110) + "出力日： 2010年 6月 3日");
        QCOMPARE(lines[PageLine], blanks(126) + "   12頁");
        QCOMPARE(lines[EmptyLine], QString());
        QCOMPARE(lines[HeadingLine], "ご利用日   通過時間   通行料金 車種       事業所          入口料金所" + blanks(28) +
                                         "出口料金所" + blanks(30));
        QCOMPARE(cp932::width(lines[HeadingLine]), 136);
    }

    // One complete record block and subtotal, column for column.
    void recordBlock()
    {
        const QStringList lines = reports::statementRecordLines(
            [] {
                ReportRow r;
                const QVariantMap m = tomeiRecord();
                for (int c = 0; c < int(reports::ReportColumn::Count); ++c)
                    r.values[c] = m.value(reports::reportColumnName(reports::ReportColumn(c)));
                return r;
            }(),
            "1234");
        QCOMPARE(lines[0], "1234" + blanks(30) + "1" + blanks(11) + "101" + blanks(15) + "01001" + blanks(37) + "01005" +
                               blanks(35));
        QCOMPARE(lines[1], "2024/05/20  18:42:10      1320円  普通車      中日本高速道路    東名高速道路 東京" + blanks(23) +
                               "  東名高速道路 厚木" + blanks(23));
        QCOMPARE(cp932::width(lines[0]), 146);
        QCOMPARE(cp932::width(lines[1]), 146);
        QCOMPARE(reports::statementSubtotalLines("1234", 3, 1500), subtotal("1234", " 3", " 1500"));
        QCOMPARE(reports::statementSubtotalLines("1234", 1, -500), subtotal("1234", " 1", "-500"));
    }

    void pages_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<QList<int>>("bodyLines");
        QTest::newRow("20 records and the subtotal on one page") << 20 << QList<int>{42};
        QTest::newRow("the 21st record starts page 2") << 21 << QList<int>{40, 4};
        QTest::newRow("41 records: three pages") << 41 << QList<int>{40, 40, 4};
    }
    void pages()
    {
        QFETCH(int, records);
        QFETCH(QList<int>, bodyLines);
        addRecords("ETC_TEMP", "9999", records);
        showView(1);
        const reports::Statement s = shownStatement("1234");
        QCOMPARE(s.outputDate, QStringLiteral(" 2010年 6月 3日"));
        QList<int> sizes;
        for (const reports::StatementPage &p : s.pages)
            sizes << int(p.body.size());
        QCOMPARE(sizes, bodyLines);
        // A card read prints under the selected card, not the staged one.
        QCOMPARE(s.pages.first().body.first().left(4), QStringLiteral("1234"));
        const int sum = 100 * records * (records + 1) / 2;
        QCOMPARE(s.pages.last().body.mid(s.pages.last().body.size() - 2),
                 subtotal("1234", " " + QString::number(records), " " + QString::number(sum)));
        QCOMPARE(s.pages.last().number, qint32(bodyLines.size()));
        if (bodyLines.size() > 1)
            QCOMPARE(reports::statementHeaderLines(2, s.outputDate)[PageLine], blanks(126) + "    2頁");
        // Oldest first: the first block of page 2 is the 21st record.
        if (records > 20)
            QCOMPARE(s.pages[1].body[1].left(10), QStringLiteral("2024/01/21"));
    }

    void cardsOfDatabaseView_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<QStringList>("page1");
        QTest::addColumn<QStringList>("page2");
        QTest::newRow("3 + 2 records") << 3 << 2 << QStringList{"R1111", "R1111", "R1111", "S1111", "R2222", "R2222", "S2222"}
                                     << QStringList{};
        // The subtotal takes the 20th block; the next card starts page 2.
        QStringList nineteen(19, "R1111");
        QTest::newRow("19 + 2: the subtotal fills the page")
            << 19 << 2 << nineteen + QStringList{"S1111"} << QStringList{"R2222", "R2222", "S2222"};
        // A full page still takes the subtotal of its card.
        QStringList twenty(20, "R1111");
        QTest::newRow("20 + 2: the subtotal goes on the full page")
            << 20 << 2 << twenty + QStringList{"S1111"} << QStringList{"R2222", "R2222", "S2222"};
    }
    void cardsOfDatabaseView()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QStringList, page1);
        QFETCH(QStringList, page2);
        addRecords("ETC_DATA", "2222", second, 1);
        addRecords("ETC_DATA", "1111", first, 10);
        showView(2);
        const reports::Statement s = shownStatement(QString());
        QCOMPARE(s.pages.size(), page2.isEmpty() ? 1 : 2);
        QCOMPARE(blocks(s.pages[0]), page1);
        if (!page2.isEmpty())
            QCOMPARE(blocks(s.pages[1]), page2);
        const reports::StatementPage &firstCardEnd = s.pages[0];
        const int at = int(page1.indexOf("S1111")) * 2;
        const int sum = 100 * first * (first + 1) / 2;
        QCOMPARE(firstCardEnd.body.mid(at, 2), subtotal("1111", " " + QString::number(first), " " + QString::number(sum)));
        QCOMPARE(s.pages.last().body.mid(s.pages.last().body.size() - 2), subtotal("2222", " 2", " 300"));
    }

    void tollsCountedAndSummed()
    {
        for (const QString &toll : {"1200円", "未確定", "300円", "12度数"})
            insertRecord("ETC_TEMP", tomeiRecord(), {{"通行料金", toll}});
        showView(1);
        const reports::Statement s = shownStatement();
        QCOMPARE(s.pages[0].body.mid(8), subtotal("1234", " 4", " 1500"));
        // The toll column is right-aligned in 10 columns.
        QVERIFY(s.pages[0].body.join('\n').contains("18:42:10      未確定  普通車"));
    }

    void fieldsCut()
    {
        // 39 letters and a kanji: the kanji would take columns 40 and 41.
        const QString entrance = QString(39, 'E') + "東";
        const QString exit = QString(40, 'X') + "Y";
        insertRecord("ETC_DATA", tomeiRecord("123456"),
                     {{"入口料金所", entrance}, {"出口料金所", exit}, {"JID_IN_NAME", QVariant()}, {"JID_IN", QVariant()},
                      {"ITC_IN", "ＩＣ１２３４５６７８９０１２３４５６７８９０１２３"}});
        showView(2);
        const reports::Statement s = shownStatement(QString());
        const QStringList body = s.pages[0].body;
        QCOMPARE(body[0].left(4), QStringLiteral("1234"));
        QCOMPARE(body[2], QStringLiteral("1234"));
        // ITC_IN: 21 full-width characters fill 42 columns exactly; the 22nd is cut.
        QCOMPARE(columns(body[0], 65, 42), QStringLiteral("ＩＣ１２３４５６７８９０１２３４５６７８９"));
        // Null office code and name: blank columns, the line keeps its width.
        QCOMPARE(columns(body[0], 47, 18), blanks(18));
        QCOMPARE(columns(body[1], 47, 16), blanks(16));
        QCOMPARE(columns(body[1], 65, 40), QString(39, 'E') + " ");
        QCOMPARE(columns(body[1], 107, 40), QString(40, 'X'));
        QCOMPARE(cp932::width(body[1]), 146);
    }

    void noRows()
    {
        addRecords("ETC_DATA", "1111", 2);
        showView(0); // nothing shown: nothing printed, whatever the history holds
        QVERIFY(reports::shownRowsStatement(testView).isEmpty());
        QCOMPARE(shownStatement(QString()).pages.size(), 0);
        historyExec("DELETE FROM ETC_DATA");
        showView(2);
        QCOMPARE(shownStatement(QString()).pages.size(), 0);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&out);
        QCOMPARE(reports::paintStatement(pdf, testView, QString()), qint32(0));
        QCOMPARE(out.size(), 0); // no job started
    }

    // The statement in a PDF, read back as text: every page with its header,
    // the blocks with their columns, the subtotal.
    void pdfText()
    {
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        addRecords("ETC_DATA", "1111", 21);
        showView(2);
        QTemporaryDir dir;
        const QString file = dir.filePath("statement.pdf");
        {
            QPdfWriter pdf(file);
            QCOMPARE(reports::paintStatement(pdf, testView, QString()), qint32(2));
        }
        const QStringList pages = pdfPages(pdftotext, file);
        QCOMPARE(pages.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(pages[i].startsWith("ETC利用履歴明細表 出力日: 2010年 6月 3日 " + QString::number(i + 1) +
                                        "頁 ご利用日 通過時間 通行料金 車種 事業所 入口料金所 出口料金所 1111 1 101 01001 01005 "));
        }
        QVERIFY(pages[0].contains("1111 1 101 01001 01005 2024/01/20 18:42:10 2000円 普通車 中日本高速道路 "
                                  "東名高速道路 東京 東名高速道路 厚木"));
        QVERIFY(!pages[0].contains("2024/01/21"));
        QVERIFY(pages[1].contains("2024/01/21 18:42:10 2100円"));
        QVERIFY(pages[1].endsWith("東名高速道路 厚木 1111 21件 23100円"));
    }
};

QTEST_MAIN(TestStatement)
#include "tst_statement.moc"
