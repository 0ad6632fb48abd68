// The standard print on a real printer queue: a CUPS queue with the cups-pdf
// back end (scripts/test.sh sets one up as "PDF") writes each job as a PDF
// file. Skipped where there is no such queue.
//
// On its way to cups-pdf the job becomes PostScript, and the embedded font
// subsets lose their character map there: the job's text cannot be read
// back. tst_statement reads the text of the statement written directly as
// PDF; here the job's pages must be printed over the same areas as those of
// that direct PDF.

#include "history/ViewCondition.h"
#include "app/RunSettings.h"
#include "../reports/ReportFixture.h"
#include "app/PrinterSeam.h"
#include "reports/StatementPrint.h"
#include "ui/ReportOperations.h"
#include "ui/MainWindow.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPdfWriter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <pwd.h>
#include <unistd.h>

using namespace ui;

namespace {
QString queueName() { return qEnvironmentVariable("PASSLOG_PRINT_QUEUE", QStringLiteral("PDF")); }

// cups-pdf writes to ~/PDF of the account (not $HOME, which the harness moves).
QString outputFolder()
{
    const passwd *pw = getpwuid(getuid());
    return QDir(QString::fromLocal8Bit(pw ? pw->pw_dir : "/root")).filePath(QStringLiteral("PDF"));
}

QStringList pdfFiles() { return QDir(outputFolder()).entryList({"*.pdf"}, QDir::Files); }

// One page of a PDF as a grey image at 100 dpi; null when there is no such page.
QImage pageImage(const QString &pdf, int page, const QString &scratch)
{
    const QString stem = QDir(scratch).filePath(QStringLiteral("page"));
    QFile::remove(stem + ".pgm");
    QProcess::execute(QStringLiteral("pdftoppm"), {"-gray", "-r", "100", "-f", QString::number(page), "-l",
                      QString::number(page), "-singlefile", pdf, stem});
    return QImage(stem + ".pgm").convertToFormat(QImage::Format_Grayscale8);
}

// The size of the printed part of a page (its dark pixels), turned to
// landscape: the queue may put the landscape page on a portrait sheet.
QSize printedSize(const QImage &page)
{
    QRect r;
    for (int y = 0; y < page.height(); ++y) {
        const uchar *line = page.constScanLine(y);
        for (int x = 0; x < page.width(); ++x)
            if (line[x] < 128)
                r |= QRect(x, y, 1, 1);
    }
    return page.width() >= page.height() ? r.size() : r.size().transposed();
}
} // namespace

class TestCupsPrint : public QObject {
    Q_OBJECT

private slots:
    void printOnQueue()
    {
        if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
            QSKIP("pdftoppm (poppler-utils) is not installed");
        installRealPrinterList();
        const seams::PrinterList printers = seams::installedPrinters();
        if (!printers.names.contains(queueName())) {
            seams::setPrinterListHandler({});
            QSKIP("no CUPS queue for the test (scripts/test.sh adds the cups-pdf queue \"PDF\")");
        }
        TestHarness h;
        MainWindow w;
        openDatabases(h);
        app::runSettings().viewSort = QStringLiteral("OLD");
        for (int i = 0; i < 21; ++i) {
            const QString date = QDate(2024, 1, 1).addDays(i).toString("yyyy/MM/dd");
            insertRecord("ETC_DATA", tomeiRecord("1111"), {{"ご利用日", date}, {"DATE_TIME", date + "-18:42:10"}});
        }
        insertRecord("ETC_DATA", tomeiRecord("2222"), {{"通行料金", "未確定"}});
        showView(2);
        w.view = testView;
        fillPrinterList(w);
        QCOMPARE(w.cboPrinter->findText(queueName()), int(printers.names.indexOf(queueName())));
        w.cboPrinter->setCurrentText(queueName());
        w.showTotals(22, 0);

        QTemporaryDir scratch;
        const QStringList before = pdfFiles();
        h.queueAnswer(seams::MsgAnswer::Yes);
        printStatement(w);
        QCOMPARE(h.messageTexts().size(), 2);
        QVERIFY(h.messageTexts()[0].contains("\r\n\r\n" + queueName() + "\r\n\r\n"));
        QCOMPARE(doneTexts(h.messageTexts())[1], QStringLiteral("標準印刷が完了しました。"));

        // The queue writes the file a moment later; it is complete once it renders.
        const QString job = scratch.filePath("job.pdf");
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         for (const QString &f : pdfFiles())
                             if (!before.contains(f) && !pageImage(QDir(outputFolder()).filePath(f), 2,
                                                                   scratch.path()).isNull()) {
                                 QFile::copy(QDir(outputFolder()).filePath(f), job);
                                 QFile::remove(QDir(outputFolder()).filePath(f));
                                 return true;
                             }
                         return false;
                     },
                     90000),
                 qPrintable("no job appeared in " + outputFolder()));

        const QString direct = scratch.filePath("direct.pdf");
        {
            QPdfWriter pdf(direct);
            QCOMPARE(reports::paintStatement(pdf, testView, QString()), qint32(2));
        }
        // A full page of blocks, then a page with the last block and the subtotals.
        for (int page = 1; page <= 3; ++page) {
            const QSize printed = printedSize(pageImage(job, page, scratch.path()));
            const QSize expected = printedSize(pageImage(direct, page, scratch.path()));
            QVERIFY2(qAbs(printed.width() - expected.width()) <= 3 && qAbs(printed.height() - expected.height()) <= 3,
                     qPrintable(QStringLiteral("page %1: %2x%3 printed, %4x%5 expected")
                                    .arg(page).arg(printed.width()).arg(printed.height())
                                    .arg(expected.width()).arg(expected.height())));
        }
        seams::setPrinterListHandler({});
    }
};

QTEST_MAIN(TestCupsPrint)
#include "tst_cupsprint.moc"
