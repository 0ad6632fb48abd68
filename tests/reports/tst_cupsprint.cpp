// The standard print on a real printer queue: a CUPS queue with the cups-pdf
// back end (scripts/test.sh sets one up as "PDF") writes each job as a PDF
// file. Skipped where there is no such queue.
//
// On its way to cups-pdf the job becomes PostScript, and the embedded font
// subsets lose their character map there: the text of the job's file cannot
// be read back. So the test reads the text of the same statement written
// directly as PDF, and checks that the job's pages are printed over the
// same areas as that file's pages.

#include "ReportFixture.h"
#include "app/PrinterSeam.h"
#include "reports/StatementPrint.h"
#include "ui/ReportOperations.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <pwd.h>
#include <unistd.h>

namespace {
QString queueName() { return qEnvironmentVariable("PASSLOG_PRINT_QUEUE", QStringLiteral("PDF")); }

// Where cups-pdf puts the jobs of this user: ~/PDF of the account (not $HOME,
// which the test harness moves).
QString outputFolder()
{
    if (qEnvironmentVariableIsSet("PASSLOG_PRINT_OUTPUT"))
        return qEnvironmentVariable("PASSLOG_PRINT_OUTPUT");
    const passwd *pw = getpwuid(getuid());
    return QDir(QString::fromLocal8Bit(pw ? pw->pw_dir : "/root")).filePath(QStringLiteral("PDF"));
}

QStringList pdfFiles() { return QDir(outputFolder()).entryList({"*.pdf"}, QDir::Files); }

int pageCount(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    p.waitForFinished(30000);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// One page of a PDF as a grey image at 100 dpi.
QImage pageImage(const QString &pdf, int page, const QString &scratch)
{
    const QString stem = QDir(scratch).filePath(QStringLiteral("page"));
    QProcess p;
    p.start(QStringLiteral("pdftoppm"), {"-gray", "-r", "100", "-f", QString::number(page), "-l", QString::number(page),
                                         "-singlefile", pdf, stem});
    p.waitForFinished(60000);
    QImage image(stem + QStringLiteral(".pgm"));
    QFile::remove(stem + QStringLiteral(".pgm"));
    return image.convertToFormat(QImage::Format_Grayscale8);
}

// The smallest rectangle holding all dark pixels.
QRect ink(const QImage &image)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            if (line[x] < 128)
                r |= QRect(x, y, 1, 1);
    }
    return r;
}

// The size of the printed part of a page, turned to landscape: the queue
// may put the landscape page on a portrait sheet.
QSize printedSize(const QImage &page)
{
    const QSize s = ink(page).size();
    return page.width() >= page.height() ? s : s.transposed();
}

bool sameSize(const QSize &a, const QSize &b)
{
    return qAbs(a.width() - b.width()) <= 3 && qAbs(a.height() - b.height()) <= 3;
}
} // namespace

class TestCupsPrint : public QObject {
    Q_OBJECT

private slots:
    void printOnQueue()
    {
        const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
        if (pdftotext.isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        installRealPrinterList();
        const seams::PrinterList printers = seams::installedPrinters();
        if (!printers.names.contains(queueName())) {
            seams::setPrinterListHandler({});
            QSKIP("no CUPS queue for the test (scripts/test.sh adds the cups-pdf queue \"PDF\")");
        }
        TestHarness h;
        frmMain w;
        openDatabases(h);
        ViewSort = QStringLiteral("OLD");
        for (int i = 0; i < 21; ++i) {
            const QString date = QDate(2024, 1, 1).addDays(i).toString("yyyy/MM/dd");
            insertRecord("ETC_DATA", tomeiRecord("1111"),
                         {{"ご利用日", date}, {"DATE_TIME", date + "-18:42:10"}, {"通行料金", QString::number(100 * (i + 1)) + "円"}});
        }
        insertRecord("ETC_DATA", tomeiRecord("2222"), {{"通行料金", "未確定"}, {"入口料金所", "首都高速道路 霞が関"}});
        insertRecord("ETC_DATA", tomeiRecord("2222"));
        showView(2);
        basMain_GetPrinter();
        QCOMPARE(w.cboPrinter->findText(queueName()), int(printers.names.indexOf(queueName())));
        w.cboPrinter->setCurrentText(queueName());
        w.lblCountValue->setText("23件");

        QTemporaryDir scratch;
        const QStringList before = pdfFiles();
        h.queueAnswer(seams::MsgAnswer::Yes);
        basMain_PrintDefult();
        QCOMPARE(h.messageTexts().size(), 2);
        QVERIFY(h.messageTexts()[0].contains("\r\n\r\n" + queueName() + "\r\n\r\n"));
        QCOMPARE(h.messageTexts()[1], QStringLiteral("標準印刷が完了しました。"));

        // The queue writes the file a moment later.
        QString produced;
        int pages = 0;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 90000) {
            const QStringList now = pdfFiles();
            for (const QString &f : now)
                if (!before.contains(f))
                    produced = QDir(outputFolder()).filePath(f);
            if (!produced.isEmpty()) {
                pages = pageCount(produced);
                if (pages == 2)
                    break;
            }
            QTest::qWait(250);
        }
        QVERIFY2(!produced.isEmpty(), qPrintable("no job appeared in " + outputFolder()));
        QCOMPARE(pages, 2);
        QVERIFY(QFile::copy(produced, scratch.filePath("job.pdf")));
        QFile::remove(produced);

        // The same statement written directly, and its text.
        const QString reference = scratch.filePath("reference.pdf");
        {
            QPdfWriter pdf(reference);
            QCOMPARE(basMain_PrintPageCreate(pdf, QString()), qint32(2));
        }
        const QStringList text = pdfPages(pdftotext, reference);
        QCOMPARE(text.size(), 2);
        for (int i = 0; i < 2; ++i)
            QVERIFY(text[i].startsWith("ETC利用履歴明細表 出力日: 2010年 6月 3日 " + QString::number(i + 1) + "頁 ご利用日 "));
        QVERIFY(text[0].contains("1111 1 101 01001 01005 2024/01/20 18:42:10 2000円 普通車 中日本高速道路 "
                                 "東名高速道路 東京 東名高速道路 厚木"));
        QVERIFY(text[1].contains("1111 21件 23100円"));
        QVERIFY(text[1].contains("未確定 普通車 中日本高速道路 首都高速道路 霞が関"));
        QVERIFY(text[1].endsWith("2222 2件 1320円"));

        // Page for page, the job prints what the statement holds where it
        // holds it: a full page of blocks, then a page with the last block
        // and the subtotals.
        for (int page = 1; page <= 2; ++page) {
            const QSize job = printedSize(pageImage(scratch.filePath("job.pdf"), page, scratch.path()));
            const QSize direct = printedSize(pageImage(reference, page, scratch.path()));
            QVERIFY2(sameSize(job, direct), qPrintable(QStringLiteral("page %1: %2x%3 printed, %4x%5 expected")
                                                           .arg(page).arg(job.width()).arg(job.height())
                                                           .arg(direct.width()).arg(direct.height())));
        }
        seams::setPrinterListHandler({});
    }
};

QTEST_MAIN(TestCupsPrint)
#include "tst_cupsprint.moc"
