// The statement as a PDF file of the program's own writer, read back with
// poppler's tools: the text as printed (no look-alike radicals), the pages,
// the embedded font subsets, and the ink where QPdfWriter puts it.

#include "history/ViewCondition.h"
#include "app/RunSettings.h"
#include "ReportFixture.h"
#include "reports/StatementPdf.h"
#include "reports/StatementPrint.h"

#include <QBuffer>
#include <QImage>
#include <QPdfWriter>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// 45 records of two cards with varied gates, car kinds and tolls: three pages.
void addSampleHistory()
{
    const QStringList entrances{"首都高速道路 用賀", "東名高速道路 東京", "中央自動車道 高井戸", "東名高速道路 大井松田"};
    const QStringList exits{"東名高速道路 厚木", "首都高速道路 高島平", "中央自動車道 八王子", "東名高速道路 御殿場"};
    const QStringList kinds{"普通車", "軽自動車等", "中型車", "大型車"};
    for (int i = 0; i < 45; ++i) {
        const QString card = i < 25 ? "1234" : "5678";
        const QString date = QDate(2024, 1, 1).addDays(i).toString("yyyy/MM/dd");
        insertRecord("ETC_DATA", tomeiRecord(card),
                     {{"PASS_DATE", date}, {"ご利用日", date}, {"DATE_TIME", date + "-18:42:10"},
                      {"通行料金", i % 7 == 3 ? QString("未確定") : QString("%1円").arg(100 * (i + 1))},
                      {"車種", kinds[i % 4]}, {"入口料金所", entrances[i % 4]}, {"出口料金所", exits[(i / 2) % 4]}});
    }
}

// Every kanji and kana of the shipped master names, eight to an entrance
// name, on rows of card 9999: the statement then prints each of them.
QString addMasterCharacters()
{
    QString characters;
    for (const QChar c : readSourceFile(QStringLiteral("data/master_sample.sql")))
        if (c.unicode() >= 0x2E80 && !characters.contains(c))
            characters += c;
    for (qsizetype at = 0; at < characters.size(); at += 8) {
        const QString date = QDate(2024, 3, 1).addDays(at / 8).toString("yyyy/MM/dd");
        insertRecord("ETC_DATA", tomeiRecord("9999"),
                     {{"PASS_DATE", date}, {"ご利用日", date}, {"DATE_TIME", date + "-09:00:00"},
                      {"入口料金所", characters.mid(at, 8)}});
    }
    return characters;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Page n of a PDF as a grey image at 60 dpi.
QImage pageImage(const QString &pdf, int n, const QString &stem)
{
    QProcess::execute("pdftoppm", {"-gray", "-r", "60", "-f", QString::number(n), "-l", QString::number(n),
                      "-singlefile", pdf, stem});
    return QImage(stem + ".pgm");
}

// The rows of an image that hold ink.
QList<int> inkedRows(const QImage &image)
{
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            if (line[x] < 128) {
                rows << y;
                break;
            }
    }
    return rows;
}

// The share of a's ink that b has within a pixel: glyphs of the same
// characters at the same places give nearly all of it.
double inkCovered(const QImage &a, const QImage &b)
{
    qint64 ink = 0, covered = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (a.constScanLine(y)[x] >= 128)
                continue;
            ++ink;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    near = yy >= 0 && xx >= 0 && yy < b.height() && xx < b.width() && b.constScanLine(yy)[xx] < 128;
                }
            covered += near;
        }
    return ink ? double(covered) / ink : 0;
}

} // namespace

class TestStatementPdf : public QObject {
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

    // Every line of the statement comes back from pdftotext as printed, on
    // its page, every character of the masters among them, and the fonts are
    // embedded as subsets.
    void textAndFonts()
    {
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        const QString pdffonts = QStandardPaths::findExecutable("pdffonts");
        if (pdftotext.isEmpty() || pdffonts.isEmpty())
            QSKIP("pdftotext and pdffonts (poppler-utils) are not installed");
        addSampleHistory();
        const QString masterCharacters = addMasterCharacters();
        QVERIFY(masterCharacters.size() > 50);
        showView(2);
        reports::QueryRows rows(reports::shownRowsStatement(testView));
        const reports::Statement statement = reports::buildStatement(std::ref(rows), 2, QString(), QDate(2010, 6, 3));
        const qint32 pageCount = qint32(statement.pages.size());
        QVERIFY(pageCount >= 3);

        QTemporaryDir dir;
        QFile file(dir.filePath("statement.pdf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        reports::QueryRows again(reports::shownRowsStatement(testView));
        QCOMPARE(reports::writeStatementPdf(file, std::ref(again), 2, QString(), statement.outputDate, {"明細", "PASSLOG"}),
                 pageCount);
        file.close();

        // pdftotext sets the blanks between words from their positions (a
        // full-width character counts as one column there): blank runs are
        // compared as one blank, the characters exactly, line by line.
        const QStringList pages = run(pdftotext, {"-layout", file.fileName(), "-"}).split('\f', Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), pageCount);
        const auto linesOf = [](const QStringList &texts) {
            QStringList lines;
            for (const QString &text : texts)
                if (!text.simplified().isEmpty())
                    lines << text.simplified();
            return lines;
        };
        for (int i = 0; i < pageCount; ++i) {
            const reports::StatementPage &page = statement.pages[i];
            QCOMPARE(linesOf(pages[i].split('\n')),
                     linesOf(reports::statementHeaderLines(page.number, statement.outputDate) + page.body));
        }
        const QString all = pages.join('\n');
        for (const QChar c : all)
            QVERIFY2(c.unicode() < 0x2E80 || c.unicode() > 0x2FDF, qPrintable(QString("radical U+%1").arg(c.unicode(), 4, 16)));
        for (const char *word : {"普通車", "高速", "料金", "入口", "利用日", "頁"})
            QVERIFY2(all.contains(QString::fromUtf8(word)), word);
        for (const QChar c : masterCharacters)
            QVERIFY2(all.contains(c), qPrintable(QString(c)));

        // Both fonts (regular and bold), embedded, subset.
        const QStringList fonts = run(pdffonts, {file.fileName()}).split('\n', Qt::SkipEmptyParts).mid(2);
        QCOMPARE(fonts.size(), 2);
        for (const QString &font : fonts) {
            QVERIFY2(font.section(' ', 0, 0).contains(QRegularExpression("^[A-Z]{6}\\+")), qPrintable(font));
            QVERIFY2(font.contains(QRegularExpression("Identity-H\\s+yes\\s+yes\\s+yes")), qPrintable(font));
        }
    }

    // Pages 1 and 3 have their ink where QPdfWriter's drawing of them has it:
    // same margins, baselines, sizes, rule and glyphs.
    void sameLookAsPainter()
    {
        if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed");
        addSampleHistory();
        showView(2);
        QTemporaryDir dir;
        const QString painted = dir.filePath("painted.pdf"), written = dir.filePath("written.pdf");
        {
            QPdfWriter pdf(painted);
            reports::QueryRows rows(reports::shownRowsStatement(testView));
            QCOMPARE(reports::printStatement(pdf, std::ref(rows), 2, QString(), " 2010年 6月 3日"), qint32(3));
        }
        QFile file(written);
        QVERIFY(file.open(QIODevice::WriteOnly));
        reports::QueryRows rows(reports::shownRowsStatement(testView));
        QCOMPARE(reports::writeStatementPdf(file, std::ref(rows), 2, QString(), " 2010年 6月 3日", {}), qint32(3));
        file.close();
        for (int n : {1, 3}) {
            const QImage a = pageImage(painted, n, dir.filePath("a")), b = pageImage(written, n, dir.filePath("b"));
            QVERIFY(!a.isNull() && a.size() == b.size());
            // Rows with ink may differ by one pixel where a glyph edge falls.
            const QList<int> ra = inkedRows(a), rb = inkedRows(b);
            QVERIFY(qAbs(ra.size() - rb.size()) <= ra.size() / 20);
            QVERIFY(qAbs(ra.first() - rb.first()) <= 1 && qAbs(ra.last() - rb.last()) <= 1);
            const QImage ta = a.transformed(QTransform().rotate(90)), tb = b.transformed(QTransform().rotate(90));
            const QList<int> ca = inkedRows(ta), cb = inkedRows(tb);
            QVERIFY(qAbs(ca.first() - cb.first()) <= 1 && qAbs(ca.last() - cb.last()) <= 1);
            QVERIFY2(inkCovered(a, b) > 0.97 && inkCovered(b, a) > 0.97,
                     qPrintable(QString("page %1: %2 / %3").arg(n).arg(inkCovered(a, b)).arg(inkCovered(b, a))));
        }
    }

    void noRowsNoFile()
    {
        showView(2);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QCOMPARE(reports::writeStatementPdf(out, testView, QString(), {}), qint32(0));
        QCOMPARE(out.size(), 0);
    }
};

QTEST_MAIN(TestStatementPdf)
#include "tst_statementpdf.moc"
